"""Update archives and server folders as the update server publishes them.

An update is a self-extracting archive: an executable stub followed by zip data
whose member paths mirror the installation from the drive root (CAD/bin/a.dll
for D:\\CAD\\bin\\a.dll)."""
import io
import os
import struct
import zipfile

# The smallest image Windows recognises as an executable header; enough for a stub
# that is never run, only skipped by the extractor.
STUB = b"MZ" + b"\0" * 58 + struct.pack("<I", 64) + b"PE\0\0" + b"\0" * 188


def write_members(archive, members):
    """members: {"CAD/bin/a.dll": bytes or str (code page 932), "CAD/empty/": None for a folder}."""
    for name, content in members.items():
        if content is None:
            archive.writestr(zipfile.ZipInfo(name if name.endswith("/") else name + "/"), b"")
        else:
            archive.writestr(name, content if isinstance(content, bytes) else content.encode("cp932"))


def zip_bytes(members, compression=zipfile.ZIP_DEFLATED):
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", compression) as archive:
        write_members(archive, members)
    return data.getvalue()


def self_extracting(members, adjust_offsets=True, stub=STUB, compression=zipfile.ZIP_DEFLATED):
    """The stub followed by the zip data. With adjust_offsets the archive's offsets
    count from the start of the file, as "zip -A" leaves them; without, they count
    from the start of the zip data, as a plain concatenation leaves them."""
    if not adjust_offsets:
        return stub + zip_bytes(members, compression)
    data = io.BytesIO()
    data.write(stub)
    with zipfile.ZipFile(data, "a", compression) as archive:
        write_members(archive, members)
    return data.getvalue()


def ver_text(product, version, revision, notes=()):
    """A Ver file's text: free lines, the revision between the last "No." and ")"."""
    lines = ["%s Ver%s 更新内容 (No.%d)" % (product, version, revision)] + list(notes)
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


def publish(folder, version="3.5", revision=2, members=None, fix_file_name="UPD", product="ravaZAZ",
            notes=(), adjust_offsets=True):
    """Writes Ver<version> and <fix_file_name><code>.EXE into the server folder."""
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Ver" + version), "wb") as f:
        f.write(ver_text(product, version, revision, notes))
    if members is not None:
        code = version_code(version)
        with open(os.path.join(folder, "%s%d.EXE" % (fix_file_name, code)), "wb") as f:
            f.write(self_extracting(members, adjust_offsets))


def version_code(version):
    """Version times 100, as update file names carry it: 3.5 -> 350."""
    whole, _, fraction = version.partition(".")
    fraction = "".join(c for c in fraction if c.isdigit())
    return int(whole) * 100 + int((fraction + "00")[:2])
