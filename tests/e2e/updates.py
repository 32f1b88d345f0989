"""Update server folders as a publisher leaves them: the Ver text, and the update as a
self-extracting archive, an executable stub followed by zip data whose member paths
mirror the installation from the drive root (CAD/bin/a.dll for D:\\CAD\\bin\\a.dll)."""
import io
import os
import struct
import zipfile

# The smallest header Windows takes for an executable; the extractor only skips it.
STUB = b"MZ" + b"\0" * 58 + struct.pack("<I", 64) + b"PE\0\0" + b"\0" * 188


def ver_text(product, version, revision, notes=()):
    """A Ver file's text: free lines, the revision between the last "No." and ")"."""
    lines = ["%s Ver%s 更新内容 (No.%d)" % (product, version, revision)] + list(notes)
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


def publish(folder, version="3.5", revision=2, members=None, product="ravaZAZ", notes=(), adjust_offsets=True):
    """Writes Ver<version> and, given members ({name: bytes or code page 932 text}),
    UPD<version code>.EXE. With adjust_offsets the zip's offsets count the stub, as
    "zip -A" leaves them; without, they count from the zip data."""
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Ver" + version), "wb") as f:
        f.write(ver_text(product, version, revision, notes))
    if members is None:
        return
    data = io.BytesIO(STUB if adjust_offsets else b"")
    data.seek(0, io.SEEK_END)
    with zipfile.ZipFile(data, "a", zipfile.ZIP_DEFLATED) as archive:
        for name, content in members.items():
            archive.writestr(name, content if isinstance(content, bytes) else content.encode("cp932"))
    whole, _, fraction = version.partition(".")
    with open(os.path.join(folder, "UPD%d.EXE" % (int(whole) * 100 + int((fraction + "00")[:2]))), "wb") as f:
        f.write(data.getvalue() if adjust_offsets else STUB + data.getvalue())
