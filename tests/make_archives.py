"""Writes the zip archives that the extraction tests unpack: make_archives.py <output folder>
update.zip (its files under expected/) looks like a real update; the others are it behind an
executable stub, and damaged or hostile archives."""
import io
import os
import random
import sys
import zipfile

# Japanese zip tools store names in code page 932 without the UTF-8 flag; Python's
# writer cannot, so a placeholder of the same length is patched afterwards. Both
# characters' second byte is the backslash byte.
SJIS_NAME = "CAD/ソフト/表.dll"
SJIS_PLACEHOLDER = "CAD/ABCDEF/XY.dll"
STORED, DEFLATED = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED


RNG = random.Random(7)
UPDATE_MEMBERS = [
    ("CAD/Ver3.5", b"Ver3.5 (No.12)\r\n", STORED),
    ("CAD/ZynCad.exe", bytes(RNG.getrandbits(8) for _ in range(150_000)), DEFLATED),
    ("CAD/sub/a.dll", "".join(f"line {i}: 鉄骨 CAD update\r\n" for i in range(4000)).encode("cp932"), DEFLATED),
    ("CAD/sub/deeper/b.txt", b"deeper\r\n", DEFLATED),
    ("CAD/sub/deeper/zero.txt", b"", DEFLATED),
    ("CAD/表示/表.txt", "表示テスト\r\n".encode("cp932"), STORED),
    ("CAD/stored.bin", bytes(range(256)) * 300, STORED),
    (SJIS_PLACEHOLDER, "ソフト\r\n".encode("cp932") * 50, DEFLATED),
]


def zip_bytes(members, folders=(), prefix=b""):
    """The archive; behind prefix its offsets count the prefix, as the zip writer leaves them."""
    buffer = io.BytesIO(prefix)
    buffer.seek(len(prefix))
    with zipfile.ZipFile(buffer, "a" if prefix else "w") as archive:
        for folder in folders:
            archive.writestr(zipfile.ZipInfo(folder), b"")
        for name, data, method in members:
            archive.writestr(zipfile.ZipInfo(name, (2024, 5, 17, 10, 30, 0)), data, compress_type=method)
    return buffer.getvalue().replace(SJIS_PLACEHOLDER.encode("ascii"), SJIS_NAME.encode("cp932"))


def stub():
    # With zip signatures, so that a reader must not scan from the front.
    rng = random.Random(3)
    body = bytes(rng.getrandbits(8) for _ in range(24 * 1024 - 64))
    return b"MZ" + b"\0" * 30 + b"PK\x03\x04PK\x01\x02PK\x05\x06" + b"\0" * 18 + body


def corrupt(data, name, offset_in_data):
    """Flips one byte of the named member's data (no extra field: it follows the local name)."""
    at = data.index(name.encode()) + len(name) + offset_in_data
    return data[:at] + bytes([data[at] ^ 0xFF]) + data[at + 1:]


if __name__ == "__main__":
    out = sys.argv[1]

    def write(name, data):
        os.makedirs(os.path.dirname(os.path.join(out, name)), exist_ok=True)
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)

    members, folders = UPDATE_MEMBERS, ["CAD/empty/", "CAD/sub/"]
    update = zip_bytes(members, folders)
    write("update.zip", update)
    for name, data, _ in members:
        write(os.path.join("expected", *(SJIS_NAME if name == SJIS_PLACEHOLDER else name).split("/")), data)
    write("update_sfx.exe", zip_bytes(members, folders, stub()))
    write("update_sfx_unadjusted.exe", stub() + update)
    write("truncated.zip", update[: len(update) * 2 // 3])
    write("notazip.exe", stub())
    write("empty.zip", zip_bytes([]))

    damaged = zip_bytes([("good.txt", b"good\r\n", STORED), ("bad.txt", b"this text loses one byte\r\n", STORED),
                         ("broken.bin", bytes(range(256)) * 64, DEFLATED), ("later.txt", b"later\r\n", STORED)])
    damaged = corrupt(damaged, "bad.txt", 5)  # stored: only the CRC can tell
    write("damaged.zip", corrupt(damaged, "broken.bin", 3))  # deflated: the stream itself breaks

    evil = ["../evil1.txt", "sub/../../evil2.txt", "..\\evil3.txt", "/evil4.txt", "\\evil5.txt", "C:/evil6.txt",
            "D:evil7.txt", "sub/.. /evil8.txt", "long/" + "n" * 300 + ".txt"]
    write("slip.zip", zip_bytes([("ok.txt", b"ok\r\n", STORED)] + [(name, b"evil", STORED) for name in evil]
                                + [("sub/also_ok.txt", b"also ok\r\n", STORED)]))
