#!/usr/bin/env python3
"""package_wxs.py derive32: the 32-bit shell extension's registration, derived from the
64-bit one's where no 32-bit regsvr32 can run, placed in a prefix laid out as Wine lays out
a 64-bit one (CLSID redirected to Wow6432Node, TypeLib a link to the shared key, the rest
shared), and refused for anything it does not know how to derive."""
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, 'scripts'))
import package_wxs  # noqa: E402

DIR = 'C:\\Program Files\\Kestrane\\Vantrel'
DLL64, DLL32 = DIR + '\\VantrelShlExt64.dll', DIR + '\\VantrelShlExt32.dll'
CLS, LIB = '{3F2E80AA-C708-4751-B0E1-5DF8361A4C9B}', '{4A229E0A-D8CE-4853-B971-151085DF0457}'


def reg_key(key, *values):
    """A key of a Wine registry file with REG_SZ values (name '' is the default value)."""
    lines = ['[%s] 1796873996' % key.replace('\\', '\\\\'), '#time=1dd88581faafdc8']
    for name, data in values:
        esc = data.replace('\\', '\\\\')
        lines.append(('@="%s"' % esc) if name == '' else ('"%s"="%s"' % (name, esc)))
    return '\n'.join(lines) + '\n\n'


def link(key, target):
    data = ','.join('%02x' % b for b in target.encode('utf-16-le'))
    return '[%s] 1796873996\n#link\n"SymbolicLinkValue"=hex(6):%s\n\n' % (key.replace('\\', '\\\\'), data)


# The prefix after the 64-bit DLL's registration, and the rows its capture recorded.
TYPELIB = 'Software\\Classes\\Typelib\\%s\\1.0' % LIB
WRITTEN64 = [
    ('Software\\Classes\\*\\shellex\\ContextMenuHandlers\\Vantrel', '', CLS),
    ('Software\\Classes\\CLSID\\%s' % CLS, '', 'Vantrel Shell Extension'),
    ('Software\\Classes\\CLSID\\%s\\InprocServer32' % CLS, '', DLL64),
    ('Software\\Classes\\CLSID\\%s\\InprocServer32' % CLS, 'ThreadingModel', 'Apartment'),
    (TYPELIB, '', 'SimpleExt 1.0 Type Library'),
    (TYPELIB + '\\409\\win64', '', DLL64),
    (TYPELIB + '\\FLAGS', '', '8'),
    (TYPELIB + '\\HELPDIR', '', DIR),
]


class Derive32Test(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def derive(self, written=WRITTEN64, extra_reg='', view='64'):
        """Runs derive32; returns (status, rows as tuples, stderr)."""
        reg = os.path.join(self.dir.name, 'system.reg')
        with open(reg, 'w', encoding='utf-8') as f:
            f.write('WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n')
            f.write(reg_key('Software\\Classes\\Wow6432Node\\CLSID'))
            f.write(reg_key('Software\\Classes\\Wow6432Node\\Interface'))
            f.write(link('Software\\Classes\\Wow6432Node\\TypeLib', '\\Registry\\Machine\\Software\\Classes\\TypeLib'))
            for key, name, data in written:
                f.write(reg_key(key, (name, data)))
            f.write(extra_reg)
        rows64 = os.path.join(self.dir.name, 'rows64.tsv')
        with open(rows64, 'w', encoding='utf-8') as f:
            for key, name, data in written:
                f.write('\t'.join([view, key, name, 'REG_SZ', data, key]) + '\n')
        out = os.path.join(self.dir.name, 'rows32.tsv')
        p = subprocess.run([sys.executable, os.path.join(ROOT, 'scripts', 'package_wxs.py'), 'derive32',
                            reg, rows64, DLL64, DLL32, out], capture_output=True, text=True)
        rows = []
        if p.returncode == 0:
            with open(out, encoding='utf-8') as f:
                rows = [tuple(line.rstrip('\n').split('\t')) for line in f]
        return p.returncode, rows, p.stderr

    def test_registration_in_the_32bit_view(self):
        # A shared value the 32-bit DLL changes (its own path) is recorded; the ones it
        # writes unchanged are not.
        icon = ('Software\\Classes\\vtfile\\DefaultIcon', '', DLL64)
        rc, rows, err = self.derive(WRITTEN64 + [icon])
        self.assertEqual(rc, 0, err)
        clsid = 'Software\\Classes\\CLSID\\%s' % CLS
        wow = 'Software\\Classes\\Wow6432Node\\CLSID\\%s' % CLS
        self.assertEqual(rows, [
            ('32', clsid, '', 'REG_SZ', 'Vantrel Shell Extension', wow),
            ('32', clsid + '\\InprocServer32', '', 'REG_SZ', DLL32, wow + '\\InprocServer32'),
            ('32', clsid + '\\InprocServer32', 'ThreadingModel', 'REG_SZ', 'Apartment', wow + '\\InprocServer32'),
            # The library's 32-bit path key, in the key both views share (through the link,
            # with the spelling the key is stored with).
            ('32', TYPELIB + '\\409\\win32', '', 'REG_SZ', DLL32, TYPELIB + '\\409\\win32'),
            ('32', icon[0], '', 'REG_SZ', DLL32, icon[0]),
        ])
        # The rows read as a capture's, for the package source.
        path = os.path.join(self.dir.name, 'rows32.tsv')
        self.assertEqual(len(package_wxs.read_capture(path)), 5)

    def test_refuses_what_it_cannot_derive(self):
        cases = {
            'another use of the 64-bit DLL': (WRITTEN64 + [('Software\\Classes\\vtfile\\DefaultIcon', '',
                                                            DLL64 + ',0')], '', '64'),
            'a row of the 32-bit view': (WRITTEN64, '', '32'),
            'nothing naming the DLL': ([r for r in WRITTEN64 if r[2] != DLL64], '', '64'),
            'a Wow6432Node below a class key': (WRITTEN64, reg_key('Software\\Classes\\Wow6432Node\\CLSID\\%s'
                                                                   '\\Wow6432Node' % CLS), '64'),
        }
        for what, (written, extra, view) in cases.items():
            with self.subTest(what):
                rc, _, err = self.derive(written, extra, view)
                self.assertNotEqual(rc, 0)
                self.assertIn('derive32: ', err)


if __name__ == '__main__':
    unittest.main()
