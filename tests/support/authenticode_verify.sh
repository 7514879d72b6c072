#!/bin/bash
# authenticode_verify.sh CA_FILE SIGNED... --refused FILE...
# osslsigncode's own verdict on the test build's signed programs: each SIGNED file's signature
# verifies and chains to CA_FILE; each file after --refused does not (no signature, or a chain
# to another root).
set -uo pipefail
ca="$1"; shift
expect=0
failed=0
for file in "$@"; do
    if [ "$file" = "--refused" ]; then expect=1; continue; fi
    out="$(timeout 30 osslsigncode verify -in "$file" -CAfile "$ca" 2>&1)"
    status=$?
    if [ "$expect" = 0 ] && { [ "$status" != 0 ] || ! grep -q "Signature verification: ok" <<<"$out"; }; then
        echo "not verified: $file"; echo "$out" | tail -n 8; failed=1
    elif [ "$expect" = 1 ] && [ "$status" = 0 ]; then
        echo "verified, though it should not: $file"; echo "$out" | tail -n 8; failed=1
    fi
done
exit "$failed"
