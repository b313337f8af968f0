"""Writes one release zip: the given programs, README.txt filled in from its
template (CR LF lines, for Notepad) and SHA256SUMS of the three, in sorted order,
every entry with the same time and permissions so that equal inputs give equal
bytes.

usage: zip.py OUT.zip EPOCH README.in VERSION FLAVOUR PROGRAM...
"""
import hashlib
import os
import sys
import time
import zipfile


def entry(name, stamp):
    info = zipfile.ZipInfo(name, date_time=stamp)
    info.create_system = 3  # Unix, so that the permissions below are read
    info.external_attr = 0o100644 << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main(out, epoch, readme_template, version, flavour, *programs):
    # Zip times are local wall-clock times from 1980 on; the UTC time of the epoch is taken.
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]
    files = {os.path.basename(p): open(p, "rb").read() for p in programs}
    readme = open(readme_template, encoding="ascii").read()
    readme = readme.replace("@VERSION@", version).replace("@FLAVOUR@", flavour)
    files["README.txt"] = readme.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in sorted(files.items()))
    files["SHA256SUMS"] = sums.encode("ascii")
    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w") as archive:
        for name in sorted(files):
            archive.writestr(entry(name, stamp), files[name], compresslevel=9)
    os.replace(tmp, out)


if __name__ == "__main__":
    main(*sys.argv[1:])
