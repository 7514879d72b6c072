#!/bin/bash
# Exits 0 when this machine executes 32-bit x86 code, 1 when it does not.
# It runs a hand-made 93-byte i386 ELF that only calls exit(0) through int 0x80, so it
# needs no 32-bit library, and it is bounded in time. A kernel with its 32-bit emulation
# switched off refuses it ("Exec format error"); one that faults in it is caught too.
set -u
probe="$(mktemp /tmp/probe32.XXXXXX)"
trap 'rm -f "$probe"' EXIT
# ELF header (52 bytes), one PT_LOAD program header (32 bytes), then
# xor ebx,ebx / mov eax,1 / int 0x80 at 0x08048054.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'  >"$probe"
printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00' >>"$probe"
printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"
printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"
printf '\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >>"$probe"
chmod +x "$probe"
timeout -k 1 5 "$probe" >/dev/null 2>&1
