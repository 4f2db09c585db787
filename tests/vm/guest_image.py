"""The test guest's boot files, built from this machine's Debian packages at test time.

The kernel is Debian's own (package linux-image-amd64: /boot/vmlinuz-VERSION and
/lib/modules/VERSION), the initramfs is made of two newc cpio archives that the kernel unpacks one
after the other:

- base: busybox-static, the kernel modules the guest loads (virtio, SCSI midlayer, sd, sg, ses,
  9p, and for the open-iscsi mode the network and iSCSI initiator modules with the open-iscsi
  programs), sg3-utils' programs, and the shared libraries of all of them. It depends only on
  installed packages, so it is cached under <build>/vm/ keyed by their versions.
- product: the server, the RAID module with its data files, libbaylink.so, the guest probe and
  the guest's scripts, with their libraries; rebuilt every run (it is small).

Nothing is downloaded: every file comes from installed packages or the build.
"""

import gzip
import hashlib
import os
import re
import shutil
import stat
import subprocess

SG_TOOLS = ["sg_inq", "sg_vpd", "sg_ses", "sg_read_buffer", "sg_raw", "sg_readcap", "sg_turs"]
OPEN_ISCSI = ["/usr/sbin/iscsid", "/usr/sbin/iscsiadm"]
MODULES = ["virtio_pci", "virtio_scsi", "sd_mod", "sg", "ses", "9p", "9pnet_virtio"]
# iscsi_tcp asks the crypto layer for crc32c when it makes a connection; nothing loads it on demand here.
OPEN_ISCSI_MODULES = ["virtio_net", "crc32c_generic", "iscsi_tcp"]


class ImageError(Exception):
    pass


def kernel_version():
    """The newest kernel with both an image in /boot and its modules."""
    versions = []
    for name in os.listdir("/boot") if os.path.isdir("/boot") else []:
        m = re.fullmatch(r"vmlinuz-(.+)", name)
        if m and os.path.isdir("/lib/modules/" + m.group(1)):
            versions.append(m.group(1))
    if not versions:
        raise ImageError("no kernel: install linux-image-amd64 (scripts/bootstrap.sh)")
    return sorted(versions)[-1]


class Cpio:
    """A newc cpio archive written in memory; directories are added as needed."""

    def __init__(self):
        self.parts = []
        self.seen = set()
        self.ino = 1

    def _entry(self, name, mode, data=b"", target=None):
        body = target.encode() if target is not None else data
        fields = [self.ino, mode, 0, 0, 1, 0, len(body), 0, 0, 0, 0, len(name) + 1, 0]
        self.ino += 1
        header = b"070701" + b"".join(b"%08X" % f for f in fields)
        record = header + name.encode() + b"\0"
        record += b"\0" * ((4 - len(record) % 4) % 4)
        record += body + b"\0" * ((4 - len(body) % 4) % 4)
        self.parts.append(record)

    def directory(self, path):
        path = path.strip("/")
        if not path or path in self.seen:
            return
        self.directory(os.path.dirname(path))
        self.seen.add(path)
        self._entry(path, stat.S_IFDIR | 0o755)

    def file(self, path, data, mode=0o755):
        path = path.strip("/")
        self.directory(os.path.dirname(path))
        self.seen.add(path)
        self._entry(path, stat.S_IFREG | mode, data)

    def symlink(self, path, target):
        path = path.strip("/")
        if path in self.seen:
            return
        self.directory(os.path.dirname(path))
        self.seen.add(path)
        self._entry(path, stat.S_IFLNK | 0o777, target=target)

    def host_file(self, path, into=None):
        """A host file (symbolic links followed) at the same path or at into."""
        with open(path, "rb") as f:
            self.file(into or path, f.read(), os.stat(path).st_mode & 0o777)

    def write(self, out):
        self._entry("TRAILER!!!", 0)
        with gzip.open(out, "wb", compresslevel=1) as f:
            for p in self.parts:
                f.write(p)


def libraries(programs):
    """The shared libraries (and the dynamic loader) the programs need, as host paths."""
    found = set()
    for program in programs:
        out = subprocess.run(["ldd", program], capture_output=True, text=True).stdout
        for line in out.splitlines():
            m = re.search(r"(/\S+) \(0x", line)
            if m and os.path.exists(m.group(1)):
                found.add(m.group(1))
    return sorted(found)


def add_with_libraries(archive, programs, env_paths=()):
    for p in programs:
        archive.host_file(p)
    for lib in libraries(list(programs) + list(env_paths)):
        archive.host_file(lib)
        # Debian's libraries live in /lib/x86_64-linux-gnu; programs also look in /usr/lib.
        if lib.startswith("/lib/"):
            archive.symlink("/usr" + lib, lib)


def module_order(version, wanted):
    """Module files (relative to the version's folder) in load order, dependencies first."""
    deps = {}
    with open("/lib/modules/%s/modules.dep" % version) as f:
        for line in f:
            path, _, rest = line.partition(":")
            deps[os.path.basename(path).split(".ko")[0].replace("-", "_")] = (path, rest.split())
    order = []

    def visit(path):
        name = os.path.basename(path).split(".ko")[0].replace("-", "_")
        if path in order:
            return
        for d in deps.get(name, (path, []))[1]:
            visit(d)
        order.append(path)

    for name in wanted:
        if name.replace("-", "_") not in deps:
            raise ImageError("kernel %s has no module %s" % (version, name))
        visit(deps[name.replace("-", "_")][0])
    return order


def package_versions(names):
    out = subprocess.run(["dpkg-query", "-W", "-f=${Package} ${Version}\n"] + names, capture_output=True, text=True)
    return out.stdout


def base_image(cache_dir, with_open_iscsi):
    """The cached base archive; built when the packages it comes from changed."""
    version = kernel_version()
    busybox = shutil.which("busybox") or "/bin/busybox"
    tools = [shutil.which(t) for t in SG_TOOLS]
    if not os.path.exists(busybox) or not all(tools):
        raise ImageError("busybox-static and sg3-utils are needed (scripts/bootstrap.sh)")
    extra = [p for p in OPEN_ISCSI if with_open_iscsi]
    if with_open_iscsi and not all(os.path.exists(p) for p in extra):
        raise ImageError("open-iscsi is needed for that mode (scripts/bootstrap.sh)")
    key = hashlib.sha256(
        (version + package_versions(["busybox-static", "sg3-utils", "open-iscsi", "libc6"]) +
         open(__file__, "rb").read().decode("utf-8", "replace") + str(with_open_iscsi)).encode()).hexdigest()[:16]
    out = os.path.join(cache_dir, "base-%s.cpio.gz" % key)
    if os.path.exists(out):
        return out
    os.makedirs(cache_dir, exist_ok=True)
    archive = Cpio()
    for d in ["dev", "proc", "sys", "tmp", "run", "share", "etc", "var/lib/iscsi", "var/lock", "run/lock"]:
        archive.directory(d)
    archive.host_file(busybox, "/bin/busybox")
    add_with_libraries(archive, tools + extra)
    wanted = MODULES + (OPEN_ISCSI_MODULES if with_open_iscsi else [])
    order = module_order(version, wanted)
    for rel in order:
        archive.host_file("/lib/modules/%s/%s" % (version, rel), "/lib/modules/" + rel)
    archive.file("/etc/kestrova-modules", ("\n".join(order) + "\n").encode(), 0o644)
    archive.file("/etc/passwd", b"root:x:0:0:root:/root:/bin/sh\n", 0o644)
    archive.file("/etc/group", b"root:x:0:\n", 0o644)
    tmp = out + ".tmp"
    archive.write(tmp)
    os.replace(tmp, out)
    return out


def product_image(out, build, source, config_files):
    """The product archive: programs, module, data files, scripts."""
    archive = Cpio()
    server = os.path.join(build, "bin/server")
    brivo = os.path.join(build, "mods/Brivo/Brivo.so")
    baylink = os.path.join(build, "lib/libbaylink.so")
    probe = os.path.join(build, "tests/guest_probe")
    for p in (server, brivo, baylink, probe):
        if not os.path.exists(p):
            raise ImageError("the build lacks %s" % p)
    archive.host_file(server, "/kestrova/server")
    archive.host_file(probe, "/kestrova/guest_probe")
    archive.host_file(baylink, "/kestrova/lib/libbaylink.so")
    for folder, into in ((os.path.join(source, "data/db"), "/kestrova/instance/db"),
                         (os.path.join(build, "mods/Brivo"), "/kestrova/instance/mods/Brivo")):
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if os.path.isfile(path):
                archive.host_file(path, into + "/" + name)
    for name, data in config_files.items():
        archive.file("/kestrova/" + name, data, 0o644)
    for script in ("guest_init.sh", "guest_checks.sh"):
        archive.host_file(os.path.join(source, "tests/vm", script), "/kestrova/" + script)
    archive.file("/init", b"#!/bin/busybox sh\nexec /bin/busybox sh /kestrova/guest_init.sh\n", 0o755)
    for lib in libraries([server, brivo, baylink, probe]):
        archive.host_file(lib)
        if lib.startswith("/lib/"):
            archive.symlink("/usr" + lib, lib)
    archive.write(out)
    return out
