#!/bin/sh
# ansible-doc shows every module of the collection in $1 (DOCUMENTATION, EXAMPLES and
# RETURN parse, the options are complete).
collections=$1
command -v ansible-doc >/dev/null || { echo "skipped: ansible-doc is not installed (Debian package ansible-core)"; exit 77; }
status=0
for module in "$collections"/ansible_collections/korvandel/bootloader/plugins/modules/*.py; do
  name=korvandel.bootloader.$(basename "$module" .py)
  if out=$(ANSIBLE_COLLECTIONS_PATH=$collections ansible-doc "$name" 2>&1) &&
     printf '%s' "$out" | grep -q "EXAMPLES" && printf '%s' "$out" | grep -q "RETURN VALUES"; then
    echo "$name: ok"
  else
    echo "$name: FAILED"; echo "$out"; status=1
  fi
done
exit $status
