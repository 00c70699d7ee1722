# Sourced by the bootstrap and the test scripts: how this machine runs 32-bit x86 code.
# Where the kernel cannot run it (no IA-32 emulation), qemu-user runs it through binfmt_misc.

ts_i386_loader=/lib/ld-linux.so.2
ts_qemu_i386=/usr/bin/qemu-i386-static

# Prints the version line of the qemu-user emulator that runs i386 programs here, nothing
# when they run natively or not at all. qemu-user reads QEMU_VERSION from the environment
# of the program it starts, so this names the binary the kernel really hands them to.
ts_i386_emulator() {
    QEMU_VERSION=1 "$ts_i386_loader" 2>/dev/null | sed -n '1s/^\(qemu-i386 version .*\)$/\1/p' || true
}

# 1 when i386 programs run under qemu-user, else 0.
ts_i386_emulated() {
    if [ -n "$(ts_i386_emulator)" ]; then echo 1; else echo 0; fi
}
