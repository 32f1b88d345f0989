"""Writes the zip archives that the extraction tests unpack.

usage: make_archives.py <output folder>

update.zip and the files it holds (under expected/) are what a real update looks
like: nested folders, an empty folder, a Japanese name, stored and deflated members.
The others are the same archive behind an executable stub, and damaged or hostile
archives.
"""
import io
import os
import random
import struct
import sys
import zipfile

STUB_SIZE = 24 * 1024


def update_members():
    rng = random.Random(7)
    text = "".join(f"line {i}: 鉄骨 CAD update\r\n" for i in range(4000)).encode("cp932")
    return [
        ("CAD/Ver3.5", b"Ver3.5 (No.12)\r\n", zipfile.ZIP_STORED),
        ("CAD/ZynCad.exe", bytes(rng.getrandbits(8) for _ in range(150_000)), zipfile.ZIP_DEFLATED),
        ("CAD/sub/a.dll", text, zipfile.ZIP_DEFLATED),
        ("CAD/sub/deeper/b.txt", b"deeper\r\n", zipfile.ZIP_DEFLATED),
        ("CAD/sub/deeper/zero.txt", b"", zipfile.ZIP_DEFLATED),
        ("CAD/表示/表.txt", "表示テスト\r\n".encode("cp932"), zipfile.ZIP_STORED),
        ("CAD/stored.bin", bytes(range(256)) * 300, zipfile.ZIP_STORED),
        (SJIS_PLACEHOLDER, "ソフト\r\n".encode("cp932") * 50, zipfile.ZIP_DEFLATED),
    ]


# Japanese zip tools store names in code page 932 without the UTF-8 flag; Python's
# writer cannot, so a placeholder of the same length is patched afterwards. Both
# characters' second byte is the backslash byte.
SJIS_NAME = "CAD/ソフト/表.dll"
SJIS_PLACEHOLDER = "CAD/ABCDEF/XY.dll"
assert len(SJIS_NAME.encode("cp932")) == len(SJIS_PLACEHOLDER)


def with_sjis_name(data):
    return data.replace(SJIS_PLACEHOLDER.encode("ascii"), SJIS_NAME.encode("cp932"))


def write_members(archive, members, folders):
    for folder in folders:
        archive.writestr(zipfile.ZipInfo(folder), b"")
    for name, data, method in members:
        archive.writestr(zipfile.ZipInfo(name, (2024, 5, 17, 10, 30, 0)), data, compress_type=method)


def zip_bytes(members, folders=()):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        write_members(archive, members, folders)
    return with_sjis_name(buffer.getvalue())


def stub():
    # A stub that even carries zip signatures, so that a reader must not scan from the front.
    rng = random.Random(3)
    body = bytes(rng.getrandbits(8) for _ in range(STUB_SIZE - 64))
    return b"MZ" + b"\0" * 30 + b"PK\x03\x04PK\x01\x02PK\x05\x06" + b"\0" * 18 + body


def adjusted_sfx(members, folders):
    # Written behind the stub by the zip writer itself: its offsets count the stub.
    buffer = io.BytesIO()
    buffer.write(stub())
    with zipfile.ZipFile(buffer, "a") as archive:
        write_members(archive, members, folders)
    return with_sjis_name(buffer.getvalue())


def corrupt(data, name, offset_in_data):
    """Flips one byte of the named member's data."""
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        info = archive.getinfo(name)
    header = info.header_offset
    name_length, extra_length = struct.unpack("<HH", data[header + 26:header + 30])
    at = header + 30 + name_length + extra_length + offset_in_data
    return data[:at] + bytes([data[at] ^ 0xFF]) + data[at + 1:]


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)

    def write(name, data):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)

    members = update_members()
    folders = ["CAD/empty/", "CAD/sub/"]
    update = zip_bytes(members, folders)
    write("update.zip", update)
    for name, data, _ in members:
        name = SJIS_NAME if name == SJIS_PLACEHOLDER else name
        path = os.path.join(out, "expected", *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    write("update_sfx.exe", adjusted_sfx(members, folders))
    write("update_sfx_unadjusted.exe", stub() + update)
    write("truncated.zip", update[: len(update) * 2 // 3])
    write("notazip.exe", stub())
    write("empty.zip", zip_bytes([]))

    damaged = zip_bytes([
        ("good.txt", b"good\r\n", zipfile.ZIP_STORED),
        ("bad.txt", b"this text loses one byte\r\n", zipfile.ZIP_STORED),
        ("broken.bin", bytes(range(256)) * 64, zipfile.ZIP_DEFLATED),
        ("later.txt", b"later\r\n", zipfile.ZIP_STORED),
    ])
    damaged = corrupt(damaged, "bad.txt", 5)  # stored: only the CRC can tell
    damaged = corrupt(damaged, "broken.bin", 3)  # deflated: the stream itself breaks
    write("damaged.zip", damaged)

    write("slip.zip", zip_bytes([
        ("ok.txt", b"ok\r\n", zipfile.ZIP_STORED),
        ("../evil1.txt", b"evil", zipfile.ZIP_STORED),
        ("sub/../../evil2.txt", b"evil", zipfile.ZIP_STORED),
        ("..\\evil3.txt", b"evil", zipfile.ZIP_STORED),
        ("/evil4.txt", b"evil", zipfile.ZIP_STORED),
        ("\\evil5.txt", b"evil", zipfile.ZIP_STORED),
        ("C:/evil6.txt", b"evil", zipfile.ZIP_STORED),
        ("D:evil7.txt", b"evil", zipfile.ZIP_STORED),
        ("sub/.. /evil8.txt", b"evil", zipfile.ZIP_STORED),
        ("long/" + "n" * 300 + ".txt", b"evil", zipfile.ZIP_STORED),
        ("sub/also_ok.txt", b"also ok\r\n", zipfile.ZIP_STORED),
    ]))


if __name__ == "__main__":
    main()
