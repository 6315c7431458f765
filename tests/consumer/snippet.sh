#!/usr/bin/env bash
# Prints the first fenced block of a language from a Markdown file. Usage: snippet.sh <lang> <file>
set -euo pipefail
out=$(awk -v open="\`\`\`$1" '$0 == open {f = 1; next} f && /^```$/ {exit} f {print}' "$2")
[ -n "$out" ] || { echo "no \`\`\`$1 block in $2" >&2; exit 1; }
printf '%s\n' "$out"
