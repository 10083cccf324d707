#!/bin/bash
# Checks kvz-cdi-cli's bash completion as bash-completion runs it: without
# an argument the one bash-completion finds installed by the program's
# name (as on the first Tab in a shell), else the file given. Each line of
# the table is a command line, the word being completed last (| marks it),
# and the sorted words the completion offers there, in a folder holding
# a.cdi, b.bin, c.csv, d.txt and the folder sub.
#
# Usage: check-completion.sh [COMPLETION_FILE]
set -u
. /usr/share/bash-completion/bash_completion
if [ $# -eq 1 ]; then
    . "$1"
else
    _completion_loader kvz-cdi-cli
fi
complete -p kvz-cdi-cli >/dev/null || { echo "FAIL: no completion for kvz-cdi-cli"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch a.cdi b.bin c.csv d.txt && mkdir sub

failed=0
while IFS='|' read -r line cur expected; do
    read -r -a COMP_WORDS <<<"kvz-cdi-cli $line"
    COMP_WORDS+=("$cur")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="kvz-cdi-cli $line$cur"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _kvz_cdi_cli kvz-cdi-cli "$cur" "${COMP_WORDS[COMP_CWORD - 1]}"
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [ "$got" = "$expected" ]; then
        echo "ok: kvz-cdi-cli $line$cur -> $got"
    else
        echo "FAIL: kvz-cdi-cli $line$cur -> '$got', not '$expected'"
        failed=1
    fi
done <<'EOF'
||backups detect diff dump export import read restore status write
|-|--help --trace --version -V -h
--trace |d|detect diff dump
read ||a.cdi sub
read a.cdi --image ||b.bin sub
read a.cdi |--|--help --image --trace
write |-|--dry-run --help --json --trace --yes -h -y
write -- ||a.cdi sub
write x.cdi ||
dump ||b.bin sub
restore b.bin |--|--dry-run --force --help --json --trace --yes
diff a.cdi ||a.cdi b.bin sub unit
diff |u|unit
diff a.cdi b.bin |--|--exact --help --json --trace
export ||a.cdi sub
export a.cdi ||c.csv sub
import ||c.csv sub
import - ||a.cdi sub
status |--|--csv --help --interval --json --trace --watch
status --csv ||c.csv sub
status --interval ||
status --interval 1 |--w|--watch
detect |--|--help --json --trace
backups |--j|--json
EOF
exit $failed
