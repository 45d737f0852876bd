#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/ from what the program itself writes: settings files made by
zirezid-cli, device texts as the unit sends them, WAV and unit-format sound files, command sessions and block
transfers. Usage: fuzz/make_seeds.py BUILD_DIR (a build with zirezid-cli)."""
import math, os, shutil, struct, subprocess, sys, tempfile

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build")
cli = os.path.join(build, "cli", "zirezid-cli")
corpus = os.path.join(root, "fuzz", "corpus")


def put(target, name, data):
    d = os.path.join(corpus, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("cp1251"))


# ---- settings files
tmp = tempfile.mkdtemp()
for kind in ("QOR11", "QOR22"):
    path = os.path.join(tmp, kind + ".qor")
    subprocess.run([cli, "new", "--type", kind, path], check=True)
    put("settings_file", kind.lower() + "_new.qor", open(path, "rb").read())
path = os.path.join(tmp, "QOR11.qor")
for obj, key, text in (("MENU(3)", "Desc", "Главное меню"), ("SYSPARAM", "Password", "1234"),
                       ("TIMETABLE", "HolidayDate1", "3112"), ("MAILBOX(1)", "Password", "42")):
    subprocess.run([cli, "set", path, obj, key, text], check=False, stderr=subprocess.DEVNULL)
put("settings_file", "qor11_edited.qor", open(path, "rb").read())
for name in os.listdir(os.path.join(root, "tests", "cli", "data")):
    put("settings_file", name, open(os.path.join(root, "tests", "cli", "data", name), "rb").read())
dump = subprocess.run([cli, "dump", path], check=True, capture_output=True).stdout.decode("utf-8")
shutil.rmtree(tmp)

# ---- device texts: kind byte (order of the fuzz target) and the text the unit sends
kinds = {"SYSPARAM": 0, "TRK(1)": 1, "SLP(1)": 2, "TIMETABLE": 3, "MENU(3)": 4, "MAILBOX(1)": 5, "DEVICEINFO": 6}
for line in dump.splitlines():
    parts = line.split("\t")
    if len(parts) == 4 and parts[0] in kinds:
        text = parts[3]
        if parts[0] == "MENU(3)":
            text = text.replace("' 0", "' {50301:greeting:4096} 0", 1)
        put("device_text", parts[0].lower().replace("(", "").replace(")", ""),
            bytes([kinds[parts[0]]]) + text.encode("utf-8"))
put("device_text", "deviceinfo_unit", bytes([6]) + "22 100001 '1.00.00' 29 305419896 4194304 ".encode())
put("device_text", "clock", bytes([7]) + b"080126 0715 42 ")


# ---- sound: direction byte (1: unit format to WAV, 0: WAV to unit format)
def wav(rate, channels, bits, frames):
    data = bytearray()
    for i in range(frames):
        v = math.sin(2 * math.pi * 440 * i / rate)
        for _ in range(channels):
            data += bytes([int(128 + 100 * v)]) if bits == 8 else struct.pack("<h", int(12000 * v))
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * channels * bits // 8, channels * bits // 8, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


put("sound", "wav_8000_mono16", b"\0" + wav(8000, 1, 16, 400))
put("sound", "wav_11025_mono8", b"\0" + wav(11025, 1, 8, 300))
put("sound", "wav_44100_stereo16", b"\0" + wav(44100, 2, 16, 500))
put("sound", "wav_22050_stereo8", b"\0" + wav(22050, 2, 8, 200))
put("sound", "device_tone", b"\1" + bytes((i * 37) & 0xFF for i in range(600)))
put("sound", "device_silence", b"\1" + bytes([0x08, 0x80] * 100))

# ---- unit command reader: mode byte (1 logged in, 2 0xFF is quiet, 4 QOR11)
login = " quit\r7316\r"
put("unit_commands", "login", b"\2" + login.encode() + b" geto 0 ")
put("unit_commands", "wrong_password", b"\0 quit\r1111\r quit\r7316\r geto 91 ")
put("unit_commands", "geto_all", b"\1" + "".join(" geto %s " % c for c in
    ("0", "11", "12", "21", "22", "3", "500", "549", "61", "62", "90", "91", "99")).encode())
put("unit_commands", "seto", b"\1" + (" seto 0 1234 0 12 12 0 1 2000 500 200 1 seto 503 'Меню' 0 0 00 00 00 00 "
    "00 00 00 00 00 00 00 seto 91 080126 0715 42 seto 61 00 10 40 7 0 0 ").encode("cp1251"))
put("unit_commands", "files", b"\1 getp 50001  getp 50301  dl 50001  del 50001  del 50001  ul 50301 ")
put("unit_commands", "half", b"\3 geto\xff seto 0 7316\xff xyzzy \xff quit\r")
put("unit_commands", "timetable", b"\1 seto 3 " + b"0800 " * 7 + b"1700 " * 7 + b"1 " * 10 + b"0101 " * 20)


# ---- link streams: mode byte (0 answer parser, 1 login, 2 logout, 3 object exchange, 4 block receiver)
def crc16(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021 if crc & 0x8000 else crc << 1) & 0xFFFF
    return crc


def block(number, payload, big):
    size = 1024 if big else 128
    payload = payload.ljust(size, b"\0")
    return bytes([2 if big else 1, number & 0xFF, 255 - (number & 0xFF)]) + payload + struct.pack(">H", crc16(payload))


put("link_stream", "answer_ok", b"\0'' 0 0 00 00 00 00 00 00 00 00 00 00 00 OK\r\n#")
put("link_stream", "answer_err", b"\0ERR 3\r\n#")
put("link_stream", "login", b"\1\r\nPassword:\r\n#")
put("link_stream", "login_wrong", b"\1\r\nPassword:\r\nERROR\r\nPassword:")
put("link_stream", "login_busy", b"\1\r\nPassword:\r\nBUSY\r\n")
put("link_stream", "logout", b"\2OK\r\nPassword:")
put("link_stream", "geto_menu", b"\3'\xcc\xe5\xed\xfe' {50701:hello:1500} 0 0 00 00 00 00 00 00 00 00 00 00 00 OK\r\n#")
message = bytes((i * 7) & 0xFF for i in range(1500))
stream = block(0, b"hello.ktm\x001500\x00", False) + block(1, message[:1024], True) + block(2, message[1024:], True)
stream += b"\x04\x04" + block(0, b"", False)
put("link_stream", "receive_file", b"\4" + stream)
put("link_stream", "receive_cancel", b"\4" + block(0, b"x\x0010\x00", False) + b"\x18\x18")
put("link_stream", "receive_bad_crc", b"\4" + block(0, b"a.ktm\x005\x00", False)[:-1] + b"\0" +
    block(0, b"a.ktm\x005\x00", False) + block(1, b"12345", False) + b"\x04\x04" + block(0, b"", False))
put("link_stream", "receive_evil_name", b"\4" + block(0, b"../../etc/passwd\x0010\x00", False) + block(1, b"x", False))
