"""patch_version.py FILE OLD NEW: rewrites a program's version block from
OLD to NEW (both four numbers of one length, e.g. 1.2.3.1 and 1.2.2.1), in
its fixed part and its strings, to make an older copy to upgrade from."""
import struct
import sys

path, old, new = sys.argv[1:4]
assert len(old) == len(new)
data = bytearray(open(path, "rb").read())
olds, news = old.encode("utf-16-le"), new.encode("utf-16-le")
count = data.count(olds)
assert count >= 2, f"{path}: version string {old} not found"
data = data.replace(olds, news)
nums = lambda v: [int(x) for x in v.split(".")]
o, n = nums(old), nums(new)
fixed = data.find(struct.pack("<I", 0xFEEF04BD))
assert fixed >= 0, f"{path}: no fixed version info"
for at in (fixed + 8, fixed + 16):  # file version, then product version
    assert struct.unpack_from("<II", data, at) == (o[0] << 16 | o[1], o[2] << 16 | o[3])
    struct.pack_into("<II", data, at, n[0] << 16 | n[1], n[2] << 16 | n[3])
open(path, "wb").write(data)
