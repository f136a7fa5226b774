#!/bin/sh
# ansible-doc shows every module of the collection in $1 (DOCUMENTATION, EXAMPLES and
# RETURN parse, the options are complete); then ansible-test's validate-modules checks
# them against their code. ansible-test itself cannot run it offline (it first fetches
# pip and pinned requirements into a virtual environment), so its checker is run
# directly with Debian's python3-voluptuous, minus the collection's sanity ignore file.
collections=$(cd "$1" && pwd)
collection=$collections/ansible_collections/korvandel/bootloader
command -v ansible-doc >/dev/null || { echo "skipped: ansible-doc is not installed (Debian package ansible-core)"; exit 77; }
status=0
for module in "$collection"/plugins/modules/*.py; do
  name=korvandel.bootloader.$(basename "$module" .py)
  if out=$(ANSIBLE_COLLECTIONS_PATH=$collections ansible-doc "$name" 2>&1) &&
     printf '%s' "$out" | grep -q "EXAMPLES" && printf '%s' "$out" | grep -q "RETURN VALUES"; then
    echo "$name: ok"
  else
    echo "$name: FAILED"; echo "$out"; status=1
  fi
done
checker=$(/usr/bin/python3 -c 'import ansible_test, os; print(os.path.join(os.path.dirname(ansible_test.__file__), "_util/controller/sanity/validate-modules"))' 2>/dev/null)
version=$(ansible --version | sed -n '1s/.*core \([0-9]*\.[0-9]*\).*/\1/p')
if [ -f "$checker/validate.py" ] && /usr/bin/python3 -c 'import voluptuous' 2>/dev/null; then
  found=$(cd "$collection" && PYTHONPATH=$checker:$collections ANSIBLE_COLLECTIONS_PATH=$collections \
    /usr/bin/python3 "$checker/validate.py" --arg-spec --collection ansible_collections/korvandel/bootloader \
    --collection-version 1.0.0 plugins/modules/*.py 2>&1)
  ignored=$collection/tests/sanity/ignore-$version.txt
  [ -f "$ignored" ] || { echo "validate-modules: no $ignored"; exit 1; }
  left=$(printf '%s\n' "$found" | awk -v ignore="$ignored" '
    BEGIN { while ((getline line < ignore) > 0) { split(line, f, " "); sub("validate-modules:", "", f[2]); skip[f[1] " " f[2]] = 1 } }
    NF { split($1, p, ":"); code = $2; sub(/^E/, "", code); if (!((p[1] " " code) in skip)) print }')
  if [ -n "$left" ]; then echo "validate-modules:"; echo "$left"; status=1; else echo "validate-modules: ok"; fi
else
  echo "validate-modules: not run (needs Debian's python3-voluptuous)"
fi
exit $status
