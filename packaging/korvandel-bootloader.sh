#!/bin/sh
# Starts the window program. The program writes its log into a per-user folder it does
# not make itself (an installer makes it); a package cannot make folders in the users'
# homes, so this launcher makes it before every start.
data=${XDG_DATA_HOME:-$HOME/.local/share}
mkdir -p "$data/Korvandel/KV_bootloader_v3_3_2" 2>/dev/null || true
exec /usr/lib/korvandel-bootloader/korvandel-bootloader "$@"
