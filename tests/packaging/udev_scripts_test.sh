#!/bin/sh
# The package's scripts make udev read the adapter rules again and replay
# "add" for the two adapters alone, never for the machine's other devices.
#   udev_scripts_test.sh <postinst> <postrm>
set -eu
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT INT TERM

device() {  # device NAME VENDOR PRODUCT
    mkdir -p "$work/sys/bus/usb/devices/$1"
    [ -z "$2" ] && return 0
    echo "$2" >"$work/sys/bus/usb/devices/$1/idVendor"
    echo "$3" >"$work/sys/bus/usb/devices/$1/idProduct"
}
device 1-1 10c4 ea60
device 1-2 0403 6001
device 1-3 10c8 ea61
device 1-3:1.0 "" ""

mkdir -p "$work/bin" "$work/run/udev"
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$work/run/udev/control"
cat >"$work/bin/udevadm" <<SCRIPT
#!/bin/sh
echo "\$*" >>"$work/calls"
SCRIPT
chmod +x "$work/bin/udevadm"

expected="control --reload-rules
trigger --action=add --parent-match=$work/sys/bus/usb/devices/1-1
trigger --action=add --parent-match=$work/sys/bus/usb/devices/1-3"
for run in "$1 configure" "$2 remove"; do
    rm -f "$work/calls"
    # shellcheck disable=SC2086
    PATH="$work/bin:$PATH" QUORVEL_TEST_ROOT="$work" sh $run
    if [ "$(cat "$work/calls")" != "$expected" ]; then
        echo "FAIL: $run called:" >&2
        cat "$work/calls" >&2
        exit 1
    fi
done
# Without a running udev nothing is called.
rm -f "$work/calls" "$work/run/udev/control"
PATH="$work/bin:$PATH" QUORVEL_TEST_ROOT="$work" sh "$1" configure
[ ! -e "$work/calls" ] || { echo "FAIL: udevadm called without udev" >&2; exit 1; }
echo "udev scripts: adapters alone"
