#!/bin/sh
# Each man page renders: man and groff read it without a warning, and it has text.
status=0
for page in "$@"; do
  from_man=$( { MANWIDTH=80 man -l --warnings "$page" >/dev/null; } 2>&1)
  from_groff=$(groff -man -ww -z "$page" 2>&1)
  lines=$(MANWIDTH=80 man -l "$page" 2>/dev/null | wc -l)
  if [ -n "$from_man$from_groff" ] || [ "$lines" -lt 10 ]; then
    printf '%s: %s lines rendered\n%s\n%s\n' "$page" "$lines" "$from_man" "$from_groff"
    status=1
  fi
done
exit $status
