# shellcheck shell=bash
# A throw-away Linux guest for tests that need kernel parts this machine's
# own kernel lacks (uhid, USB gadgets): Debian's own kernel, unpacked from
# its package and never installed, booted under qemu-system-x86_64 without
# KVM, with a busybox initramfs. The guest sees the host's root file system
# read-only over virtio-9p, with a tmpfs overlay on top so it can write, and
# runs one script there: the very binaries just built, at their own paths.
# Sourced, not run:
#
#     source scripts/env.sh; source scripts/linux_guest.sh   (zyr_retry comes from env.sh)
#     zyr_guest_prepare || exit 77     # kernel + initramfs, cached; reason in $ZYR_GUEST_ERROR
#     zyr_guest_run 300 /path/to/script.sh arg...   # the script's exit status
#
# Inside the guest the script runs as root in the folder zyr_guest_run was
# called from, with ZYR_IN_GUEST=1 and the variables named in
# ZYR_GUEST_PASS_ENV (space-separated names) set as on the host. Its output
# comes back on the host's standard output over the serial console; nothing
# it writes reaches the host's disk, except through a folder named in
# ZYR_GUEST_SHARE_RW (mounted read-write at the same path).
#
# qemu never outlives the call: it runs under timeout(1), is killed on
# every path out, and the guest powers itself off when the script ends.

ZYR_GUEST_DIR=${ZYR_GUEST_DIR:-${ZYR_BUILD:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}/guest}
# Modules loaded at boot, each with what it depends on (resolved by modprobe
# on the host from the package's own module tree).
ZYR_GUEST_MODULES=${ZYR_GUEST_MODULES:-"virtio_pci 9pnet_virtio 9p overlay hid uhid hid-generic"}
# Put into the initramfs too, for scripts that load them later
# (`modprobe NAME` inside the guest): the USB gadget path.
ZYR_GUEST_EXTRA_MODULES=${ZYR_GUEST_EXTRA_MODULES:-"dummy_hcd usb_f_hid libcomposite usbhid"}
ZYR_GUEST_MEMORY=${ZYR_GUEST_MEMORY:-512}
ZYR_GUEST_ERROR=

# The kernel package linux-image-amd64 depends on, e.g. linux-image-6.1.0-57-amd64.
zyr_guest_kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1
}

# Unpacks the kernel package into $ZYR_GUEST_DIR/kernel (once per version)
# and sets ZYR_GUEST_KVER, ZYR_GUEST_VMLINUZ and ZYR_GUEST_ROOT.
zyr_guest_kernel() {
    local package deb
    package=$(zyr_guest_kernel_package)
    if [ -z "$package" ]; then
        ZYR_GUEST_ERROR="apt knows no kernel package that linux-image-amd64 depends on"
        return 1
    fi
    ZYR_GUEST_KVER=${package#linux-image-}
    ZYR_GUEST_ROOT=$ZYR_GUEST_DIR/kernel-$ZYR_GUEST_KVER
    ZYR_GUEST_VMLINUZ=$ZYR_GUEST_ROOT/boot/vmlinuz-$ZYR_GUEST_KVER
    if [ -f "$ZYR_GUEST_ROOT/.unpacked" ]; then
        return 0
    fi
    mkdir -p "$ZYR_GUEST_DIR/download"
    deb=$(ls "$ZYR_GUEST_DIR/download/${package}_"*.deb 2>/dev/null | head -n 1)
    if [ -z "$deb" ]; then
        if ! (cd "$ZYR_GUEST_DIR/download" && zyr_retry 3 apt-get download -q "$package" >/dev/null 2>&1); then
            ZYR_GUEST_ERROR="the kernel package $package could not be downloaded (apt-get download failed 3 times)"
            return 1
        fi
        deb=$(ls "$ZYR_GUEST_DIR/download/${package}_"*.deb | head -n 1)
    fi
    rm -rf "$ZYR_GUEST_ROOT"
    mkdir -p "$ZYR_GUEST_ROOT"
    if ! dpkg-deb -x "$deb" "$ZYR_GUEST_ROOT" || ! depmod -b "$ZYR_GUEST_ROOT" "$ZYR_GUEST_KVER"; then
        ZYR_GUEST_ERROR="the kernel package $deb could not be unpacked"
        return 1
    fi
    touch "$ZYR_GUEST_ROOT/.unpacked"
}

# The module files for $@ with everything they depend on, in load order,
# each once; modules built into the kernel give nothing.
zyr_guest_module_files() {
    local name
    for name in "$@"; do
        modprobe -d "$ZYR_GUEST_ROOT" -S "$ZYR_GUEST_KVER" --show-depends "$name" || return 1
    done | sed -n 's/^insmod \([^ ]*\).*/\1/p' | awk '!seen[$0]++'
}

# The guest's /init: loads the modules, mounts the host's root under a
# tmpfs overlay, runs the script given on the kernel command line in a
# chroot, and powers off. The exit status goes out on the console as
# "ZYR-GUEST-EXIT <n>".
zyr_guest_init_script() {
    cat <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules.order); do insmod "/modules/$m" || echo "zyr-guest: insmod $m failed"; done
script=; dir=/; rw=
for word in $(cat /proc/cmdline); do
    case "$word" in
        zyr.script=*) script=${word#zyr.script=} ;;
        zyr.rw=*) rw=${word#zyr.rw=} ;;
    esac
done
fail() { echo "zyr-guest: $*"; echo "ZYR-GUEST-EXIT 125"; poweroff -f; sleep 10; }
mkdir -p /host /rw /root
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /host || fail "9p mount failed"
mount -t tmpfs -o size=256m tmpfs /rw || fail "tmpfs failed"
mkdir -p /rw/upper /rw/work
mount -t overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work overlay /root || fail "overlay failed"
mount -t proc proc /root/proc
mount -t sysfs sysfs /root/sys
mount -t devtmpfs devtmpfs /root/dev
ln -s /proc/self/fd /root/dev/fd
ln -s /proc/self/fd/0 /root/dev/stdin
ln -s /proc/self/fd/1 /root/dev/stdout
ln -s /proc/self/fd/2 /root/dev/stderr
mkdir -p /root/dev/pts /root/dev/shm
mount -t devpts devpts /root/dev/pts
mount -t tmpfs tmpfs /root/dev/shm
[ -d /sys/kernel/config ] && mount -t configfs configfs /root/sys/kernel/config 2>/dev/null
if [ -n "$rw" ]; then
    mkdir -p "/root$rw"
    mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 hostrw "/root$rw" || fail "shared folder mount failed"
fi
# The modules stay loadable by name from inside the chroot.
mkdir -p /root/lib/modules
mount --bind /lib/modules /root/lib/modules
[ -n "$script" ] || fail "no script given"
chroot /root /bin/sh "$script"
echo "ZYR-GUEST-EXIT $?"
sync
poweroff -f
sleep 10
EOF
}

# Builds $ZYR_GUEST_DIR/initramfs-<kver>.cpio.gz from busybox-static and the
# modules (again only when a module list changed).
zyr_guest_initramfs() {
    local tree files file stamp
    ZYR_GUEST_INITRD=$ZYR_GUEST_DIR/initramfs-$ZYR_GUEST_KVER.cpio.gz
    stamp="$ZYR_GUEST_MODULES | $ZYR_GUEST_EXTRA_MODULES | $(zyr_guest_init_script | md5sum)"
    if [ -f "$ZYR_GUEST_INITRD" ] && [ "$(cat "$ZYR_GUEST_INITRD.stamp" 2>/dev/null)" = "$stamp" ]; then
        return 0
    fi
    if [ ! -x /bin/busybox ] || ! /bin/busybox --list | grep -qx insmod; then
        ZYR_GUEST_ERROR="busybox-static is not installed (/bin/busybox)"
        return 1
    fi
    tree=$ZYR_GUEST_DIR/initramfs-tree
    rm -rf "$tree"
    mkdir -p "$tree"/{bin,proc,sys,dev,modules,lib/modules}
    cp /bin/busybox "$tree/bin/busybox"
    if ! files=$(zyr_guest_module_files $ZYR_GUEST_MODULES); then
        ZYR_GUEST_ERROR="the kernel $ZYR_GUEST_KVER lacks one of the modules: $ZYR_GUEST_MODULES"
        return 1
    fi
    : >"$tree/modules.order"
    for file in $files; do
        cp "$file" "$tree/modules/"
        basename "$file" >>"$tree/modules.order"
    done
    # The later modules as a module tree of their own, for modprobe.
    if files=$(zyr_guest_module_files $ZYR_GUEST_EXTRA_MODULES 2>/dev/null); then
        for file in $files; do
            mkdir -p "$tree/lib/modules/$ZYR_GUEST_KVER/$(dirname "${file#"$ZYR_GUEST_ROOT"/lib/modules/"$ZYR_GUEST_KVER"/}")"
            cp "$file" "$tree/lib/modules/$ZYR_GUEST_KVER/${file#"$ZYR_GUEST_ROOT"/lib/modules/"$ZYR_GUEST_KVER"/}"
        done
        cp "$ZYR_GUEST_ROOT/lib/modules/$ZYR_GUEST_KVER"/modules.{order,builtin,builtin.modinfo} \
            "$tree/lib/modules/$ZYR_GUEST_KVER/" 2>/dev/null
        depmod -b "$tree" "$ZYR_GUEST_KVER" 2>/dev/null
    fi
    zyr_guest_init_script >"$tree/init"
    chmod 755 "$tree/init"
    (cd "$tree" && find . | cpio -o -H newc --quiet | gzip -1) >"$ZYR_GUEST_INITRD.tmp" &&
        mv "$ZYR_GUEST_INITRD.tmp" "$ZYR_GUEST_INITRD" && echo "$stamp" >"$ZYR_GUEST_INITRD.stamp"
}

# Kernel and initramfs, ready to boot; 1 with the reason in ZYR_GUEST_ERROR.
zyr_guest_prepare() {
    local tool
    for tool in qemu-system-x86_64 cpio depmod modprobe dpkg-deb; do
        if ! command -v "$tool" >/dev/null; then
            ZYR_GUEST_ERROR="$tool is not installed"
            return 1
        fi
    done
    zyr_guest_kernel && zyr_guest_initramfs
}

# zyr_guest_run SECONDS SCRIPT [ARG...]: boots the guest, runs SCRIPT (a
# host path, seen at the same path in the guest) with ARGs, prints its
# output, and returns its exit status; 124 when the guest did not end
# within SECONDS (qemu is then killed), 125 when the guest could not run the
# script at all.
zyr_guest_run() {
    local seconds=$1 script wrapper log status name share_args=() append
    shift
    script=$(readlink -f "$1")
    shift
    [ -n "${ZYR_GUEST_INITRD:-}" ] || zyr_guest_prepare || {
        echo "zyr-guest: $ZYR_GUEST_ERROR"
        return 125
    }
    mkdir -p "$ZYR_GUEST_DIR/run"
    wrapper=$(mktemp "$ZYR_GUEST_DIR/run/script.XXXXXX")
    log=$wrapper.log
    {
        echo "export ZYR_IN_GUEST=1 HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
        for name in ${ZYR_GUEST_PASS_ENV:-}; do
            [ -n "${!name+x}" ] && printf 'export %s=%q\n' "$name" "${!name}"
        done
        printf 'cd %q || exit 125\n' "$PWD"
        printf 'exec bash %q' "$script"
        printf ' %q' "$@"
        echo
    } >"$wrapper"
    append="console=ttyS0 panic=-1 quiet loglevel=3 zyr.script=$wrapper"
    if [ -n "${ZYR_GUEST_SHARE_RW:-}" ]; then
        share_args=(-virtfs "local,path=$ZYR_GUEST_SHARE_RW,mount_tag=hostrw,security_model=none,multidevs=remap")
        append="$append zyr.rw=$ZYR_GUEST_SHARE_RW"
    fi
    # The host's console stays untouched (no -nographic): the serial port
    # goes to a pipe, read line by line.
    timeout -k 5 "$seconds" qemu-system-x86_64 -accel tcg -m "$ZYR_GUEST_MEMORY" -smp 1 \
        -nodefaults -no-reboot -display none -monitor none -serial stdio \
        -kernel "$ZYR_GUEST_VMLINUZ" -initrd "$ZYR_GUEST_INITRD" -append "$append" \
        -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
        "${share_args[@]}" </dev/null 2>&1 | tr -d '\r' | tee "$log" | grep -v -e '^ZYR-GUEST-EXIT ' -e '] reboot: Power down$'
    status=${PIPESTATUS[0]}
    if [ "$status" = 124 ] || [ "$status" = 137 ]; then
        echo "zyr-guest: the guest did not end within $seconds s; qemu was stopped"
        status=124
    elif grep -q '^ZYR-GUEST-EXIT ' "$log"; then
        status=$(sed -n 's/^ZYR-GUEST-EXIT \([0-9]*\).*/\1/p' "$log" | tail -n 1)
    else
        echo "zyr-guest: the guest ended without the script's exit status (qemu status $status)"
        status=125
    fi
    rm -f "$wrapper" "$log"
    return "$status"
}
