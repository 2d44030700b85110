# shellcheck shell=bash
# Sourced by the MIPS scripts: finds the FPU instructions in objects or binaries.
# OBJDUMP: the MIPS objdump (default mipsel-linux-gnu-objdump).
#
# fpu_instructions FILE...  prints "function<TAB>mnemonic" for every FPU instruction:
# loads, stores and moves of FPU registers, FPU control and branches, moves on an FPU
# condition, and every formatted operation (add.s, cvt.s.w, c.lt.d, ...).
fpu_instructions() {
  "${OBJDUMP:-mipsel-linux-gnu-objdump}" -d -C --no-show-raw-insn "$@" | awk -F'\t' '
    /^[0-9a-f]+ <.*>:$/ { fn = $0; sub(/^[0-9a-f]+ </, "", fn); sub(/>:$/, "", fn); next }
    NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {
      m = $2; sub(/ +$/, "", m)
      if (m ~ /^(l|s)(w|d|u)x?c1$/ || m ~ /^(m[ft]h?c1|[cm][ft]c1)$/ || m ~ /^bc1/ ||
          m ~ /^mov[ft]$/ || m ~ /\.(s|d|ps|w|l)$/)
        print fn "\t" m
    }'
}
