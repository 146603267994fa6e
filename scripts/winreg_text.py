"""Reads the text registry files of a Wine prefix (system.reg, user.reg) and compares them.

A registry file holds one block per key, "[Key\\\\Path] <stamp>", followed by its values
("@" is the default value). Only what matters for a comparison is kept: the key names and,
per value, its type and data as written (strings unescaped)."""
import re

_KEY = re.compile(r'^\[(.*)\](?: \d+)?$')
_VALUE = re.compile(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$')


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text):
            n = text[i + 1]
            if n == 'x':
                m = re.match(r'[0-9a-fA-F]{1,4}', text[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append({'n': '\n', 'r': '\r', 't': '\t', '0': '\0'}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return ''.join(out)


def _value(data):
    """(type, data) of a value's right-hand side."""
    if data.startswith('"'):
        return 'REG_SZ', _unescape(data[1:-1])
    if data.startswith('str(2):"'):
        return 'REG_EXPAND_SZ', _unescape(data[8:-1])
    if data.startswith('str(7):"'):
        return 'REG_MULTI_SZ', _unescape(data[8:-1])
    if data.startswith('dword:'):
        return 'REG_DWORD', str(int(data[6:], 16))
    m = re.match(r'hex(?:\((\w+)\))?:(.*)', data)
    if m:
        return 'hex(%s)' % (m.group(1) or '3'), m.group(2).replace(',', '')
    return 'unknown', data


def read(path):
    """{key: {value name: (type, data)}}; key names with single backslashes, value "" for @."""
    keys, current, pending = {}, None, ''
    with open(path, encoding='utf-8', errors='replace') as f:
        for raw in f:
            line = raw.rstrip('\n')
            if pending:
                line = pending + line.strip()
                pending = ''
            if line.endswith('\\') and current is not None and not line.startswith('['):
                pending = line[:-1]
                continue
            m = _KEY.match(line)
            if m:
                current = _unescape(m.group(1))
                keys.setdefault(current, {})
                continue
            if current is None or not line or line.startswith('#') or line.startswith(';'):
                continue
            m = _VALUE.match(line)
            if m:
                name = '' if m.group(1) == '@' else _unescape(m.group(1)[1:-1])
                keys[current][name] = _value(m.group(2))
    return keys


def entries(keys):
    """The set of (key, name, type, data) of every value, and of every key as (key, None, None, None)."""
    out = set()
    for key, values in keys.items():
        out.add((key, None, None, None))
        for name, (kind, data) in values.items():
            out.add((key, name, kind, data))
    return out


def added(before, after):
    """Values that after holds and before does not (new or changed), as {key: {name: (type, data)}}."""
    out = {}
    for key, values in after.items():
        old = before.get(key, {})
        for name, value in values.items():
            if old.get(name) != value:
                out.setdefault(key, {})[name] = value
    return out


def split_view(key):
    """(view, key as a program of that view names it) of a key relative to HKEY_LOCAL_MACHINE
    in a 64-bit prefix: the Wow6432Node keys are the 32-bit view."""
    for node in ('Software\\Classes\\Wow6432Node\\', 'Software\\Wow6432Node\\'):
        if key.lower().startswith(node.lower()):
            return 32, key[:len(node) - len('Wow6432Node\\')] + key[len(node):]
    return 64, key
