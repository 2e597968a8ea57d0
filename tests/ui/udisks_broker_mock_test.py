#!/usr/bin/python3
"""The window's way to a disk it may not open: UDisks2's Block.OpenDevice.

A private system bus runs a mock UDisks2 (python3-dbusmock's generic
AddObject/AddMethod; Debian 12's dbusmock has no UDisks2 template). A loop
device over a small image stands for the disk: only root may open it, so the
probe, run as nobody, is refused by the system and must go through the mock,
which answers as each case needs. The probe prints "opened <hex>" or the
window's message.

Usage: udisks_broker_mock_test.py PROBE
Exit status: 0 all cases passed, 1 a case failed, 77 skipped (not root, no
loop devices).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
PROBE = sys.argv[1]
SERVICE = "org.freedesktop.UDisks2"
MANAGER = "/org/freedesktop/UDisks2/Manager"
BLOCK = "/org/freedesktop/UDisks2/block_devices/loop_test"
BLOCK_INTERFACE = "org.freedesktop.UDisks2.Block"
PATTERN = bytes((i * 7 + 3) % 251 for i in range(65536))


def need_tool(name):
    if shutil.which(name) is None and not os.path.exists(f"/usr/sbin/{name}") and not os.path.exists(f"/sbin/{name}"):
        print(f"missing {name}")
        sys.exit(1 if os.environ.get("VELLUMARK_REQUIRE_TOOLS") else SKIP)


try:
    import dbus  # python3-dbus
    import dbusmock  # noqa: F401  python3-dbusmock
except ImportError as e:
    print(f"missing {e.name} (python3-dbusmock)")
    sys.exit(1 if os.environ.get("VELLUMARK_REQUIRE_TOOLS") else SKIP)
for tool in ("dbus-daemon", "setpriv", "losetup"):
    need_tool(tool)
if os.geteuid() != 0 or not os.path.exists("/dev/loop-control"):
    print("skipped: needs root and loop devices to make a disk only root may open")
    sys.exit(SKIP)

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""


class Fixture:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="vellumark-udisks-")
        os.chmod(self.dir, 0o755)  # nobody must reach the bus's socket
        self.loops, self.processes = [], []

    def loop_device(self, data):
        image = os.path.join(self.dir, f"disk{len(self.loops)}.img")
        with open(image, "wb") as f:
            f.write(data)
        os.chmod(image, 0o600)
        device = subprocess.run(["losetup", "-f", "--show", image], capture_output=True, text=True).stdout.strip()
        if not device:
            print("skipped: no free loop device")
            sys.exit(SKIP)
        self.loops.append(device)
        os.chmod(device, 0o600)  # only root may open it, whatever the system's rules
        return device

    def start_bus(self):
        socket = os.path.join(self.dir, "system_bus_socket")
        config = os.path.join(self.dir, "bus.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(socket=socket))
        daemon = subprocess.Popen(["dbus-daemon", "--nofork", "--print-address", "--config-file", config],
                                  stdout=subprocess.PIPE, text=True)
        self.processes.append(daemon)
        self.address = daemon.stdout.readline().strip()
        os.chmod(socket, 0o777)
        self.bus = dbus.bus.BusConnection(self.address)

    def start_mock(self):
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.address)
        self.mock_process = subprocess.Popen(
            [sys.executable, "-m", "dbusmock", "--system", SERVICE, MANAGER, "org.freedesktop.UDisks2.Manager"],
            env=env, stdout=subprocess.DEVNULL)
        self.processes.append(self.mock_process)
        for _ in range(200):
            if self.bus.name_has_owner(SERVICE):
                break
            time.sleep(0.05)
        else:
            raise RuntimeError("the mock UDisks2 did not come up")
        manager = dbus.Interface(self.bus.get_object(SERVICE, MANAGER), dbusmock.MOCK_IFACE)
        manager.AddObject(BLOCK, BLOCK_INTERFACE, {}, [])
        self.manager = manager
        self.block = dbus.Interface(self.bus.get_object(SERVICE, BLOCK), dbusmock.MOCK_IFACE)

    def stop_mock(self):
        self.mock_process.terminate()
        self.mock_process.wait()
        for _ in range(200):
            if not self.bus.name_has_owner(SERVICE):
                return
            time.sleep(0.05)

    def answer(self, resolve, open_device):
        self.manager.AddMethod("", "ResolveDevice", "a{sv}a{sv}", "ao", resolve)
        self.block.AddMethod(BLOCK_INTERFACE, "OpenDevice", "sa{sv}", "h", open_device)
        self.block.ClearCalls()

    def open_device_calls(self):
        return [call for call in self.block.GetCalls() if call[1] == "OpenDevice"]

    def probe(self, device, as_nobody=True, address=None):
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address or self.address, LANG="C", LC_ALL="")
        command = [PROBE, device]
        if as_nobody:
            command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + command
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)
        return result.stdout.strip()

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                process.wait()
        for device in self.loops:
            subprocess.run(["losetup", "-d", device])
        shutil.rmtree(self.dir, ignore_errors=True)


def main():
    fixture = Fixture()
    failures = []

    def expect(case, got, wanted):
        ok = got.startswith(wanted) if wanted.startswith("opened") else wanted in got
        print(f"{'ok  ' if ok else 'FAIL'} {case}: {got}")
        if not ok:
            failures.append(f"{case}: wanted {wanted!r}, got {got!r}")

    try:
        disk = fixture.loop_device(PATTERN)
        other = fixture.loop_device(bytes(65536))
        fixture.start_bus()
        fixture.start_mock()
        opened = "opened " + PATTERN[:16].hex()
        resolves = f"ret = [dbus.ObjectPath('{BLOCK}')]"

        def hands(path, flags="os.O_RDONLY"):
            return f"import os\nret = dbus.types.UnixFd(os.open('{path}', {flags}))"

        def raises(name):
            return f"raise dbus.exceptions.DBusException('refused', name='{name}')"

        denied = "the disk service refused it too"
        cases = [
            ("a read-only descriptor of the disk", resolves, hands(disk), opened),
            # Never a descriptor the disk could be written through, and never
            # another disk than the one chosen.
            ("a read-write descriptor", resolves, hands(disk, "os.O_RDWR"), denied),
            ("a descriptor of another disk", resolves, hands(other), denied),
            ("polkit says no", resolves, raises("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed"), denied),
            ("the device is busy", resolves, raises("org.freedesktop.UDisks2.Error.DeviceBusy"), "the device is busy"),
            ("the service knows no such device", "ret = []", hands(disk), "does not know this device"),
        ]
        for case, resolve, open_device, wanted in cases:
            fixture.answer(resolve, open_device)
            expect(case, fixture.probe(disk), wanted)
            if wanted == opened and len(fixture.open_device_calls()) != 1:
                failures.append(f"{case}: OpenDevice asked {len(fixture.open_device_calls())} times")

        # Root may open the disk itself: the service is not asked.
        fixture.answer(resolves, hands(disk))
        expect("root opens it directly", fixture.probe(disk, as_nobody=False), opened)
        if fixture.open_device_calls():
            failures.append("root's open asked the disk service")

        # Nobody to ask: the service is gone, or there is no system bus at all.
        fixture.stop_mock()
        no_service = "no disk service (UDisks2) was there to ask"
        expect("no disk service on the bus", fixture.probe(disk), no_service)
        expect("no system bus", fixture.probe(disk, address=f"unix:path={fixture.dir}/none"), no_service)
    finally:
        fixture.close()

    if failures:
        print("\n".join(["failed:"] + failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
