#!/usr/bin/env python3
"""Writes the committed seed corpora of the fuzz targets (run from anywhere).

Each seed follows its target's input layout; the fuzzers grow their own
corpora from these in build/fuzz/corpus/."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ID1 = b"USB\\Vid_1F3C&Pid_3A41"
ID2 = b"USB\\Vid_1F3C&Pid_3A42"


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def chunk(b):
    return struct.pack("<H", len(b)) + b


def multi(*entries):
    return b"".join(e + b"\0" for e in entries) + b"\0"


# fuzz_hwid: choice byte (0: first target ID, 1: second, else length<<2|2
# and that many pattern bytes), then the text.
def pattern(p):
    return bytes([(len(p) << 2) | 2]) + p


write("fuzz_hwid", "caps_with_revision", b"\0USB\\VID_1F3C&PID_3A41&REV_0100")
write("fuzz_hwid", "second_id_lower", b"\1usb\\vid_1f3c&pid_3a42&mi_02")
write("fuzz_hwid", "doubled_first_char", b"\0UUSB\\Vid_1F3C&Pid_3A41")
write("fuzz_hwid", "restart_inside", b"\0USB\\VUSB\\Vid_1F3C&Pid_3A41")
write("fuzz_hwid", "proper_prefix", b"\0USB\\Vid_1F3C&Pid_3A4")
write("fuzz_hwid", "nul_inside", b"\0USB\\Vid_1F3C\0&Pid_3A41")
write("fuzz_hwid", "brackets", pattern(b"[") + b"{")
write("fuzz_hwid", "high_bytes", pattern(b"\xc4") + b"\xe4\xc4")
write("fuzz_hwid", "letter_case", pattern(b"A") + b"xa")
write("fuzz_hwid", "empty_pattern", pattern(b"") + b"text")
write("fuzz_hwid", "empty_text", b"\0")

# fuzz_devscan: count byte (1 + b % 4 devices); per device a flags byte
# (class f % 3, 4 attached, 8 no hardware IDs, 0x30 read error, 0x40 driver
# key) and its bytes (two-byte length, the last device takes the rest).
write("fuzz_devscan", "composite_and_hub",
      b"\1" + b"\x44" + chunk(multi(b"USB\\VID_1F3C&PID_3A41&REV_0100", b"USB\\VID_1F3C&PID_3A41"))
      + b"\x45" + multi(b"USB\\ROOT_HUB30", b"USB\\ROOT_HUB"))
write("fuzz_devscan", "unterminated", b"\0\x40" + ID2)
write("fuzz_devscan", "first_entry_empty",
      b"\2" + b"\x40" + chunk(b"\0" + ID1 + b"\0\0") + b"\x48" + chunk(b"") + b"\x46" + multi(b"X", ID1))
write("fuzz_devscan", "read_error_first",
      b"\1" + b"\x30" + chunk(multi(ID1)) + b"\x40" + multi(ID2))
write("fuzz_devscan", "later_entry_matches",
      b"\3" + b"\x44" + chunk(multi(b"HID\\VID_1F3C", b"usb\\vid_1f3c&pid_3a42&mi_01"))
      + b"\x05" + chunk(multi(ID1, ID2)) + b"\x41" + chunk(ID1 + b"\0" + ID2) + b"\x47" + b"\0\0\0")

# fuzz_purge: the layout of fuzz_devscan, flags 0x80 making the removal fail.
write("fuzz_purge", "driverless_and_installed",
      b"\2" + b"\x04" + chunk(multi(b"HID\\VID_1F3C&PID_3A42", b"USB\\VID_1F3C&PID_3A42&MI_01"))
      + b"\x44" + chunk(multi(ID1)) + b"\x80" + multi(ID2))
write("fuzz_purge", "long_first_entry", b"\0\x00" + multi(b"X" * 200, ID1))
write("fuzz_purge", "unterminated_first_entry", b"\0\x00" + ID1 + b"&REV_0001")
write("fuzz_purge", "read_error", b"\1\x30" + chunk(multi(ID1)) + b"\x00" + multi(ID1))

# fuzz_inf: the bytes of one INF file.
def inf(models_line, manufacturer=b"%Mfg%=Omrak,NTx86,NTamd64", models=b"Omrak", extra=b""):
    return (b"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Modem\r\n\r\n"
            b"[Manufacturer]\r\n" + manufacturer + b"\r\n\r\n[" + models + b"]\r\n" + models_line
            + b"\r\n" + extra + b"[Strings]\r\nMfg=\"Omrak\"\r\nModem=\"Omrak USB Modem\"\r\n")


write("fuzz_inf", "product", inf(b"%Modem%=Modem_Install,USB\\Vid_1F3C&Pid_3A41&MI_00"))
write("fuzz_inf", "later_field", inf(b"\"Omrak Port\"=Port,,USB\\VID_1F3C&PID_3A42&MI_02&Col01"))
write("fuzz_inf", "decorated_only",
      inf(b"Modem=Install,USB\\Vid_1F3C&Pid_3A41", b"Omrak=Omrak,NTamd64", b"Omrak.NTamd64"))
write("fuzz_inf", "second_manufacturer",
      b"[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\nOther=O\r\nOmrak=P\r\n"
      b"[O]\r\nG=I,USB\\VID_0000\r\n[P]\r\nM=I,USB\\Vid_1F3C&Pid_3A41\r\n")
write("fuzz_inf", "no_comma", inf(b"M=I,USB\\Vid_1F3C&Pid_3A42", b"Omrak"))
write("fuzz_inf", "strings_and_continuation",
      b"[Version]\r\nSignature=\"$CHICAGO$\"\r\n[Manufacturer]\r\n%M%=%S%, \\\r\n NTamd64\r\n"
      b"[Models]\r\nX=I,%ID%\r\n[Strings]\r\nM=\"Omrak\"\r\nS=\"Models\"\r\nID=\"USB\\Vid_1F3C&Pid_3A41\"\r\n")
write("fuzz_inf", "utf16", ("\ufeff" + inf(b"M=I,USB\\Vid_1F3C&Pid_3A41").decode()).encode("utf-16-le"))
write("fuzz_inf", "long_line", inf(b"M=I," + b"A" * 600 + b"," + ID1))
write("fuzz_inf", "comments_quotes",
      inf(b"; USB\\Vid_1F3C&Pid_3A41 in a comment\r\nM=\"I,;\",USB\\VID_0001 ; " + ID2))
write("fuzz_inf", "not_an_inf", b"These are not INF lines.\r\n" + ID1 + b"\r\n")
write("fuzz_inf", "ctrl_z", inf(b"M=I,USB\\VID_0001\r\n\x1aN=I," + ID1))
write("fuzz_inf", "unterminated_header", b"[Version\r\nSignature=\"$Windows NT$\"\r\n")
write("fuzz_inf", "empty", b"")

# fuzz_regvalues: flags byte (1: files read-only), three type bytes, then
# "AttachedTo" and "PortName" (two-byte length each) and "InfPath" (the rest).
def values(attached, port, infpath, flags=0, types=(1, 1, 1)):
    return bytes([flags]) + bytes(types) + chunk(attached) + chunk(port) + infpath


write("fuzz_regvalues", "free_ports", values(b"COM1\0", b"com3\0", b"oem1.inf\0"))
write("fuzz_regvalues", "busy_and_missing", values(b"COM2\0", b"COM9\0", b"usb.inf\0"))
write("fuzz_regvalues", "unterminated_260", values(b"A" * 260, b"COM1", b"oem30.inf", 0, (3, 0, 3)))
write("fuzz_regvalues", "over_long", values(b"B" * 300, b"C" * 256 + b"\0", b"D" * 270))
write("fuzz_regvalues", "climbing_path",
      values(b"..\\COM1\0", b"\\\\.\\COM1\0", b"..\\..\\boot.ini\0", 1))
write("fuzz_regvalues", "readonly_oem", values(b"COM3\0", b"COM1\0", b"OEM2.INF\0", 1, (2, 7, 2)))
write("fuzz_regvalues", "trailing_bytes", values(b"COM1\0COM2\0", b"COM1\0\0", b"oem30.inf\0x.inf\0"))
write("fuzz_regvalues", "near_names", values(b"COM1 \0", b"COM\0", b"oem5.inf.bak\0"))
write("fuzz_regvalues", "usbstor_inside", values(b"\0", b"", b"oem1usbstor.inf\0"))
write("fuzz_regvalues", "format_chars", values(b"%s%s%n\0", b"%x\0", b"oem%d.inf\0"))
