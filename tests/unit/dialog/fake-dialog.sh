#!/bin/sh
# A stand-in for carvix-dialog in unit tests: greets, appends every command line it gets to
# $CARVIX_FAKE_DIALOG_RECORD and answers each command that needs an answer with
# $CARVIX_FAKE_DIALOG_ANSWER (UPDATE-READERS gets none, BYE gets OK and ends it).
echo "OK carvix-dialog 1"
while IFS= read -r line; do
  printf '%s\n' "$line" >>"$CARVIX_FAKE_DIALOG_RECORD"
  case "$line" in
    UPDATE-READERS*) ;;
    BYE) echo OK; exit 0 ;;
    *) printf '%s\n' "$CARVIX_FAKE_DIALOG_ANSWER" ;;
  esac
done
