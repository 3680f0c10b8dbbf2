#!/usr/bin/env python3
"""Writes the link test data beside this script, with the openssl command line
doing every encryption and every HMAC, so the data owe nothing to the code
they test:

  envelopes.json         link envelopes, good and broken, with what opening
                         each must give
  aes256_cbc_pkcs7.json  AES-256-CBC/PKCS#7 known answers (NIST SP 800-38A
                         F.2.5 plus generated cases), valid and invalid
  hmac_sha256.json       HMAC-SHA256 known answers (RFC 4231 plus generated
                         cases), valid and invalid

Keys and IVs are fixed, so running it again gives the same files.
"""
import base64
import hashlib
import hmac
import json
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))

ENVELOPE_KEY = "0f35c4a08b380c15e8c000d3e300f08872e90dfafc83d763588dd3758e9214c3"
OTHER_KEY = "1f6832bf0fc6f66378282b3bc5e482c421e69402c7d68dc48dac139f502b5cbc"


def openssl(args, data):
    return subprocess.run(["openssl", *args], input=data, stdout=subprocess.PIPE, check=True).stdout


def aes_encrypt(key_hex, iv_hex, plain, nopad=False):
    args = ["enc", "-aes-256-cbc", "-K", key_hex, "-iv", iv_hex]
    if nopad:
        args.append("-nopad")
    return openssl(args, plain)


def aes_raw_decrypt(key_hex, iv_hex, cipher):
    return openssl(["enc", "-d", "-aes-256-cbc", "-nopad", "-K", key_hex, "-iv", iv_hex], cipher)


def hmac_sha256(key_hex, data):
    return openssl(["dgst", "-sha256", "-mac", "HMAC", "-macopt", "hexkey:" + key_hex, "-binary"], data)


def derived(label, size):
    """Fixed bytes for a label (keys, IVs, messages of generated cases)."""
    out = b""
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{label}/{counter}".encode()).digest()
        counter += 1
    return out[:size]


def b64(data):
    return base64.b64encode(data).decode()


def pkcs7_valid(block):
    pad = block[-1]
    return 1 <= pad <= 16 and block[-pad:] == bytes([pad]) * pad


# ---------------------------------------------------------------- envelopes

def seal(plain, label, key_hex=ENVELOPE_KEY):
    """The Base64 texts of IV and ciphertext and the lower-case hex MAC over them."""
    iv = derived("envelope-iv/" + label, 16)
    iv_text = b64(iv)
    value_text = b64(aes_encrypt(key_hex, iv.hex(), plain))
    mac = hmac_sha256(key_hex, (iv_text + value_text).encode()).hex()
    return iv_text, value_text, mac


def outer(json_text):
    return b64(json_text.encode())


def envelope_json(iv_text, value_text, mac=None):
    members = [f'"iv":"{iv_text}"', f'"value":"{value_text}"']
    if mac is not None:
        members.append(f'"mac":"{mac}"')
    return "{" + ",".join(members) + "}"


def envelope_cases():
    cases = []

    def ok(name, text, plain, key=ENVELOPE_KEY):
        cases.append({"name": name, "envelope": text, "key": key, "plaintext": plain})

    def fails(name, text, error, key=ENVELOPE_KEY):
        cases.append({"name": name, "envelope": text, "key": key, "error": error})

    def fails_json(name, text, fragment, key=ENVELOPE_KEY):
        cases.append({"name": name, "envelope": text, "key": key, "json_error_contains": fragment})

    token = "lesson-token-7f3a9c"
    iv_text, value_text, mac = seal(token.encode(), "token")
    ok("mac_lower_case", outer(envelope_json(iv_text, value_text, mac)), token)
    ok("mac_upper_case", outer(envelope_json(iv_text, value_text, mac.upper())), token)
    ok("no_mac", outer(envelope_json(iv_text, value_text)), token)
    ok("empty_mac", outer(envelope_json(iv_text, value_text, "")), token)
    ok("members_reordered_and_extra_ignored",
       outer(f'{{"mac":"{mac}","value":"{value_text}","tag":"x","iv":"{iv_text}","n":2}}'), token)
    ok("other_case_member_name_is_not_the_mac",
       outer(f'{{"iv":"{iv_text}","value":"{value_text}","MAC":"00"}}'), token)

    # The outer text with "=" padding and junk after it: the JSON is widened
    # with blanks until its Base64 ends in padding.
    spaced = envelope_json(iv_text, value_text, mac)
    while len(spaced.encode()) % 3 == 0:
        spaced = spaced[:-1] + " }"
    padded = outer(spaced)
    assert padded.endswith("=")
    ok("junk_after_outer_padding", padded + "Zm9v!! more junk", token)

    wrapped = base64.encodebytes(envelope_json(iv_text, value_text, mac).encode()).decode()
    assert "\n" in wrapped.strip()
    fails("outer_wrapped_in_lines", wrapped, "Failed to parse AES envelope JSON")
    fails("outer_not_base64", "%%% not an envelope %%%", "Failed to parse AES envelope JSON")
    fails("outer_empty", "", "Failed to parse AES envelope JSON")
    fails("outer_base64_of_non_json", outer("{iv: 1, value: 2}"), "Failed to parse AES envelope JSON")

    arabic = "درس ١ — https://miravell.com/lesson/1?a=1&b=2"
    a_iv, a_value, a_mac = seal(arabic.encode(), "arabic")
    ok("utf8_plaintext", outer(envelope_json(a_iv, a_value, a_mac)), arabic)
    block = "0123456789abcdef"
    b_iv, b_value, b_mac = seal(block.encode(), "block")
    ok("plaintext_of_one_whole_block", outer(envelope_json(b_iv, b_value, b_mac)), block)

    mac_error = "MAC verification failed \u2014 data may be tampered"
    fails("wrong_key_with_mac", outer(envelope_json(iv_text, value_text, mac)), mac_error, key=OTHER_KEY)
    # Without a MAC a wrong key shows as bad padding; pick an IV for which it does.
    for attempt in range(100):
        w_iv, w_value, _ = seal(token.encode(), f"wrong-key/{attempt}")
        raw = aes_raw_decrypt(OTHER_KEY, base64.b64decode(w_iv).hex(), base64.b64decode(w_value))
        if not pkcs7_valid(raw):
            break
    else:
        raise RuntimeError("no IV found whose wrong-key decryption has bad padding")
    fails("wrong_key_without_mac", outer(envelope_json(w_iv, w_value)), "BCryptDecrypt failed", key=OTHER_KEY)

    last = "0" if mac[-1] != "0" else "1"
    fails("mac_last_digit_changed", outer(envelope_json(iv_text, value_text, mac[:-1] + last)), mac_error)
    fails("mac_one_digit_short", outer(envelope_json(iv_text, value_text, mac[:-1])), mac_error)
    fails("mac_one_digit_long", outer(envelope_json(iv_text, value_text, mac + "0")), mac_error)
    fails("mac_not_hex", outer(envelope_json(iv_text, value_text, "g" * 64)), mac_error)
    raw_mac = hmac_sha256(ENVELOPE_KEY, base64.b64decode(iv_text) + base64.b64decode(value_text)).hex()
    fails("mac_over_decoded_bytes", outer(envelope_json(iv_text, value_text, raw_mac)), mac_error)
    long_plain = ("https://cdn.miravell.com/lessons/" + "x" * 80).encode()
    l_iv, l_value, l_mac = seal(long_plain, "long")
    rewrapped = "\\n".join(l_value[i:i + 16] for i in range(0, len(l_value), 16))
    fails("mac_over_texts_as_written_not_reencoded", outer(envelope_json(l_iv, rewrapped, l_mac)), mac_error)
    ok("long_plaintext", outer(envelope_json(l_iv, l_value, l_mac)), long_plain.decode())

    size_error = "BCryptDecrypt (size query) failed"
    iv15 = b64(derived("iv15", 15))
    mac15 = hmac_sha256(ENVELOPE_KEY, (iv15 + value_text).encode()).hex()
    fails("iv_of_15_bytes_with_valid_mac", outer(envelope_json(iv15, value_text, mac15)), size_error)
    fails("iv_of_15_bytes_without_mac", outer(envelope_json(iv15, value_text)), size_error)
    fails("iv_of_17_bytes", outer(envelope_json(b64(derived("iv17", 17)), value_text)), size_error)
    fails("iv_empty", outer(envelope_json("", value_text)), size_error)
    cipher = base64.b64decode(value_text)
    fails("ciphertext_not_whole_blocks", outer(envelope_json(iv_text, b64(cipher[:-3]))), size_error)
    fails("ciphertext_empty", outer(envelope_json(iv_text, "")), size_error)

    bad_block = b"lesson-token\x02\x04\x04\x03"
    bad_iv = derived("envelope-iv/bad-padding", 16)
    bad_value = b64(aes_encrypt(ENVELOPE_KEY, bad_iv.hex(), bad_block, nopad=True))
    fails("bad_padding_without_mac", outer(envelope_json(b64(bad_iv), bad_value)), "BCryptDecrypt failed")

    fails_json("missing_iv", outer(f'{{"value":"{value_text}","mac":"{mac}"}}'), "type must be string, but is null")
    fails_json("iv_is_a_number", outer(f'{{"iv":16,"value":"{value_text}"}}'), "type must be string, but is number")
    fails_json("missing_value", outer(f'{{"iv":"{iv_text}"}}'), "type must be string, but is null")
    fails_json("value_is_an_array", outer(f'{{"iv":"{iv_text}","value":["{value_text}"]}}'),
               "type must be string, but is array")
    fails_json("mac_is_a_number", outer(f'{{"iv":"{iv_text}","value":"{value_text}","mac":7}}'),
               "type must be string, but is number")
    fails_json("mac_is_null", outer(f'{{"iv":"{iv_text}","value":"{value_text}","mac":null}}'),
               "type must be string, but is null")
    fails_json("envelope_is_null", outer("null"), "type must be string, but is null")
    fails_json("envelope_is_an_array", outer(f'["{iv_text}","{value_text}"]'),
               "cannot use operator[] with a string argument with array")
    return cases


# ---------------------------------------------------------------- AES known answers

NIST_F25_KEY = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4"
NIST_F25_IV = "000102030405060708090a0b0c0d0e0f"
NIST_F25_PLAIN = ("6bc1bee22e409f96e93d7e117393172a" "ae2d8a571e03ac9c9eb76fac45af8e51"
                  "30c81c46a35ce411e5fbc1191a0a52ef" "f69f2445df4f9b17ad2b417be66c3710")
NIST_F25_CIPHER = ("f58c4c04d6e5f1ba779eabfb5f7bfbd6" "9cfc4e967edb808d679f777bc6702c7d"
                   "39f23369a9d9bacfa530e26304231461" "b2eb05e2c39be9fcda6c19078c6a9d1b")


def aes_cases():
    tests = []

    def add(comment, key, iv, msg, ct, result, flags=()):
        tests.append({"tcId": len(tests) + 1, "comment": comment, "key": key.hex(), "iv": iv.hex(),
                      "msg": msg.hex(), "ct": ct.hex(), "result": result, "flags": list(flags)})

    key, iv, plain = bytes.fromhex(NIST_F25_KEY), bytes.fromhex(NIST_F25_IV), bytes.fromhex(NIST_F25_PLAIN)
    cipher = aes_encrypt(NIST_F25_KEY, NIST_F25_IV, plain)
    assert cipher[:64].hex() == NIST_F25_CIPHER, "openssl disagrees with NIST SP 800-38A F.2.5"
    add("NIST SP 800-38A F.2.5 with its PKCS#7 block", key, iv, plain, cipher, "valid")

    for size in list(range(0, 34)) + [47, 48, 49, 64, 255, 256, 1000]:
        k, v, m = derived(f"aes-key/{size}", 32), derived(f"aes-iv/{size}", 16), derived(f"aes-msg/{size}", size)
        add(f"message of {size} bytes", k, v, m, aes_encrypt(k.hex(), v.hex(), m), "valid")

    # Malformed padding: the last plaintext block is written by hand and
    # encrypted without padding.
    k, v = derived("aes-key/bad", 32), derived("aes-iv/bad", 16)
    first = derived("aes-msg/bad", 16)
    bad_tails = {
        "padding byte 0": b"A" * 15 + b"\x00",
        "padding byte 17": b"A" * 15 + b"\x11",
        "padding byte 0x20": b"A" * 15 + b"\x20",
        "padding byte 0xff": b"A" * 15 + b"\xff",
        "padding 2 with 03 before the last byte": b"A" * 14 + b"\x03\x02",
        "padding 4 with one byte changed": b"A" * 12 + b"\x04\x05\x04\x04",
        "padding 5 with its first byte changed": b"A" * 11 + b"\x04\x05\x05\x05\x05",
        "padding 16 with its first byte changed": b"\x0f" + b"\x10" * 15,
        "padding 16 with a middle byte changed": b"\x10" * 7 + b"\x00" + b"\x10" * 8,
        "padding 8 of bytes 0x88": b"A" * 8 + b"\x88" * 7 + b"\x08",
    }
    for comment, tail in bad_tails.items():
        for blocks in (1, 2):
            plain = (first if blocks == 2 else b"") + tail
            ct = aes_encrypt(k.hex(), v.hex(), plain, nopad=True)
            assert not pkcs7_valid(aes_raw_decrypt(k.hex(), v.hex(), ct))
            add(f"{comment} ({blocks} block{'s' if blocks == 2 else ''})", k, v, b"", ct, "invalid", ["BadPadding"])

    good = aes_encrypt(k.hex(), v.hex(), derived("aes-msg/lengths", 40))
    for size in (0, 1, 15, 17, 31, 47):
        add(f"ciphertext of {size} bytes", k, v, b"", good[:size], "invalid", ["WrongLength"])
    return {"algorithm": "AES-CBC-PKCS5", "keySize": 256, "ivSize": 128,
            "source": "NIST SP 800-38A F.2.5; other cases generated with openssl enc by make-fixtures.py",
            "tests": tests}


# ---------------------------------------------------------------- HMAC known answers

RFC4231 = [
    ("RFC 4231 test case 1", "0b" * 20, b"Hi There".hex(),
     "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7", 256),
    ("RFC 4231 test case 2", b"Jefe".hex(), b"what do ya want for nothing?".hex(),
     "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843", 256),
    ("RFC 4231 test case 3", "aa" * 20, "dd" * 50,
     "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe", 256),
    ("RFC 4231 test case 4", "0102030405060708090a0b0c0d0e0f10111213141516171819", "cd" * 50,
     "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b", 256),
    ("RFC 4231 test case 5 (truncated to 128 bits)", "0c" * 20, b"Test With Truncation".hex(),
     "a3b6167473100ee06e0c796c2955552b", 128),
    ("RFC 4231 test case 6", "aa" * 131, b"Test Using Larger Than Block-Size Key - Hash Key First".hex(),
     "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54", 256),
    ("RFC 4231 test case 7", "aa" * 131,
     b"This is a test using a larger than block-size key and a larger than block-size data. "
     b"The key needs to be hashed before being used by the HMAC algorithm.".hex(),
     "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2", 256),
]


def hmac_cases():
    tests = []

    def add(comment, key_hex, msg_hex, tag_hex, tag_size, result):
        tests.append({"tcId": len(tests) + 1, "comment": comment, "key": key_hex, "msg": msg_hex,
                      "tag": tag_hex, "tagSize": tag_size, "result": result})

    for comment, key_hex, msg_hex, tag_hex, tag_size in RFC4231:
        full = hmac_sha256(key_hex, bytes.fromhex(msg_hex)).hex()
        assert full.startswith(tag_hex), f"openssl disagrees with {comment}"
        add(comment, key_hex, msg_hex, tag_hex, tag_size, "valid")

    for key_size in (1, 16, 32, 63, 64, 65, 200):
        for msg_size in (0, 1, 55, 64, 65, 1000):
            k = derived(f"hmac-key/{key_size}", key_size)
            m = derived(f"hmac-msg/{key_size}/{msg_size}", msg_size)
            add(f"key of {key_size} bytes, message of {msg_size}", k.hex(), m.hex(),
                hmac_sha256(k.hex(), m).hex(), 256, "valid")
    # openssl's HMAC refuses an empty key; Python's hmac stands in for it.
    add("empty key (Python hmac)", "", b"abc".hex(), hmac.new(b"", b"abc", hashlib.sha256).hexdigest(), 256, "valid")

    k, m = derived("hmac-key/bad", 32), derived("hmac-msg/bad", 48)
    tag = bytearray(hmac_sha256(k.hex(), m))
    for position, bit in ((0, 0x01), (0, 0x80), (15, 0x10), (31, 0x01), (31, 0x80)):
        changed = bytearray(tag)
        changed[position] ^= bit
        add(f"tag with bit {bit:#04x} of byte {position} flipped", k.hex(), m.hex(), changed.hex(), 256, "invalid")
    add("tag of all zeros", k.hex(), m.hex(), "00" * 32, 256, "invalid")
    add("tag of the message with its last byte changed", k.hex(), m.hex(),
        hmac_sha256(k.hex(), m[:-1] + bytes([m[-1] ^ 1])).hex(), 256, "invalid")
    other_key = k[:-1] + bytes([k[-1] ^ 1])
    add("tag under a key with its last byte changed", k.hex(), m.hex(), hmac_sha256(other_key.hex(), m).hex(), 256,
        "invalid")
    # HMAC pads short keys with zeros, so a key and the same key with a zero
    # byte added are one key.
    add("key with a zero byte added gives the same tag", k.hex() + "00", m.hex(), bytes(tag).hex(), 256, "valid")
    add("plain SHA-256 of the message instead of its HMAC", k.hex(), m.hex(), hashlib.sha256(m).hexdigest(), 256,
        "invalid")
    return {"algorithm": "HMACSHA256", "source": "RFC 4231; other cases generated with openssl dgst -mac HMAC",
            "tests": tests}


def write(name, value):
    with open(os.path.join(HERE, name), "w", encoding="utf-8") as f:
        json.dump(value, f, indent=1, ensure_ascii=False)
        f.write("\n")


if __name__ == "__main__":
    write("envelopes.json", {"key": ENVELOPE_KEY, "otherKey": OTHER_KEY, "cases": envelope_cases()})
    write("aes256_cbc_pkcs7.json", aes_cases())
    write("hmac_sha256.json", hmac_cases())
