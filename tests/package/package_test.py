#!/usr/bin/env python3
"""Installs, uses, repairs, upgrades and removes one Vantrel package with Wine's own msiexec,
in a throwaway prefix of the package's bitness, and checks what each step left behind.

  package_test.py <arch x64|x86> <packages folder> <dist folder> [<dist32 folder>]

Prints one line per check and last "packages-<arch>: N passed, N failed, N skipped".
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, 'scripts'))
import package_wxs  # noqa: E402
import winreg_text  # noqa: E402

ARCH, PACKAGES, DIST = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
DIST32 = os.path.abspath(sys.argv[4]) if len(sys.argv) > 4 else None
VERSION, NEWER = '1.0.1.0', '1.0.2.0'
PREFIX = os.path.join(PACKAGES, 'test-' + ARCH)
PROGRAM_DIR = 'C:\\Program Files\\Kestrane\\Vantrel'
PROGRAM_UNIX = os.path.join(PREFIX, 'drive_c', 'Program Files', 'Kestrane', 'Vantrel')
CLSID = '{3F2E80AA-C708-4751-B0E1-5DF8361A4C9B}'
OTHER = '{0B7C1E52-6A3D-4F28-9E41-D5A8C3F20B67}'  # another program's icon handler
PORT = package_wxs.SERVICE_PORT
WOW = 'Software\\Wow6432Node\\' if ARCH == 'x64' else 'Software\\'


def wine_environment():
    """The environment scripts/wine-env.sh makes: where 32-bit programs cannot run, "wine"
    (and wineboot, msiexec through it) is the 64-bit loader and VANTREL_RUNS_32BIT is 0;
    VANTREL_32BIT_BY and VANTREL_32BIT_SCALE say how 32-bit programs run."""
    p = subprocess.run(['bash', '-c', '. "$0" && env -0', os.path.join(ROOT, 'scripts', 'wine-env.sh')],
                       capture_output=True, check=True)
    return dict(entry.split('=', 1) for entry in p.stdout.decode().split('\0') if '=' in entry)


env = dict(wine_environment(), WINEPREFIX=PREFIX, WINEARCH='win64' if ARCH == 'x64' else 'win32', WINEDEBUG='-all',
           WINEDLLOVERRIDES='mscoree,mshtml=')
RUNS_32BIT = env['VANTREL_RUNS_32BIT'] != '0'
NO_32BIT = env['VANTREL_NO_32BIT']
# Waits for Wine's programs are this many times longer where 32-bit programs (which both
# prefixes start: msiexec's custom actions, the 32-bit views, wineboot's WoW64 side) run by emulation.
SCALE = int(env['VANTREL_32BIT_SCALE'] or 1)
HOW_32BIT = '32-bit programs %s' % (env['VANTREL_32BIT_BY'] or 'not run')
if env.get('VANTREL_32BIT_EMULATOR', ''):
    HOW_32BIT += ', ' + env.get('VANTREL_32BIT_EMULATOR', '')
results = {'passed': 0, 'failed': 0, 'skipped': 0}


def check(name, ok, detail=''):
    results['passed' if ok else 'failed'] += 1
    print('  %s %s%s' % ('ok  ' if ok else 'FAIL', name, ('\n        ' + detail.replace('\n', '\n        '))
                          if detail and not ok else ''))
    sys.stdout.flush()
    return ok


def skip(name, why):
    results['skipped'] += 1
    print('  skip %s: %s' % (name, why))


def wine(*args, timeout=300 * SCALE, debug=None):
    """Runs a program of the prefix. Its output goes through files: programs of the session
    it may start (services) inherit the handles and would hold a pipe open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.run(['wine'] + list(args), env=dict(env, WINEDEBUG=debug) if debug else env,
                           stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                           timeout=timeout)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(p.args, p.returncode, out.read().decode('utf-8', 'replace'),
                                           err.read().decode('utf-8', 'replace'))


class Session:
    """Wine ends its services when the last program of a session ends, as Windows does at a
    shutdown. A waiting console keeps the session, and so the installed service, alive; a
    restart of the session starts the service again (it starts automatically)."""
    holder = None

    @classmethod
    def start(cls):
        if cls.holder is None:
            cls.holder = subprocess.Popen(['wine', 'cmd'], env=env, stdin=subprocess.PIPE,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(['wine', 'cmd', '/c', 'exit'], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120 * SCALE)

    @classmethod
    def end(cls):
        if cls.holder is not None:
            cls.holder.stdin.close()
            try:
                cls.holder.wait(timeout=30 * SCALE)
            except subprocess.TimeoutExpired:
                cls.holder.kill()
            cls.holder = None
        subprocess.run(['wineserver', '-w'], env=env, timeout=300 * SCALE)


def settle():
    """Ends the session, so the registry files are written, and starts a new one."""
    Session.end()
    Session.start()


def registry():
    """Both registry files of the prefix, keys (in lower case) prefixed with their root."""
    settle()
    keys = {}
    for root, name in (('HKLM', 'system.reg'), ('HKU', 'user.reg')):
        for key, values in winreg_text.read(os.path.join(PREFIX, name)).items():
            keys[(root + '\\' + key).lower()] = values
    return keys


def value(keys, key, name=''):
    v = keys.get(key.lower(), {}).get(name)
    return v[1] if v else None


def msiexec(*args):
    log = os.path.join(PACKAGES, 'msiexec-%s-%d.log' % (ARCH, int(time.time() * 1000)))
    start = time.monotonic()
    p = wine('msiexec', *args, '/qn', '/l*v', 'Z:' + log.replace('/', '\\'))
    settle()
    elapsed = time.monotonic() - start
    text = ''
    if os.path.exists(log):
        with open(log, 'rb') as f:
            raw = f.read()
        text = raw.decode('utf-16-le', errors='replace') if raw[:2] == b'\xff\xfe' else raw.decode('latin-1')
    return p.returncode, elapsed, text


def http(path):
    """Status and body of GET <path> at the service, or None when nothing answers."""
    try:
        with socket.create_connection(('127.0.0.1', PORT), timeout=10 * SCALE) as s:
            s.sendall(('GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: close\r\n\r\n' % (path, PORT)).encode())
            data = b''
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
    except OSError:
        return None
    head, _, body = data.partition(b'\r\n\r\n')
    m = re.match(rb'HTTP/1\.[01] (\d+)', head)
    return (int(m.group(1)) if m else 0, body.decode('latin-1'))


def wait_http(path, want_up=True, seconds=20):
    answer = None
    for _ in range(seconds * 4):
        answer = http(path)
        if (answer is not None) == want_up:
            return answer
        time.sleep(0.25)
    return answer


def expected_com():
    """What regsvr32 wrote in the package build's throwaway prefix, as stored keys."""
    rows = set()
    with open(os.path.join(PACKAGES, 'regsvr32-%s.tsv' % ARCH), encoding='utf-8') as f:
        for line in f:
            _, _, name, kind, data, raw = line.rstrip('\n').split('\t')
            rows.add(('hklm\\' + raw.lower(), name, kind, data))
    return rows


def tsv_rows(name):
    """The rows of one of the package build's registration captures, as a set (none when absent)."""
    path = os.path.join(PACKAGES, name)
    if not os.path.exists(path):
        return set()
    with open(path, encoding='utf-8') as f:
        return {tuple(line.rstrip('\n').split('\t')) for line in f}


def com_written(before, after):
    """Values the install added or changed under HKLM\\Software\\Classes, apart from the
    installer's own bookkeeping."""
    rows = set()
    for key, values in winreg_text.added(before, after).items():
        low = key.lower()
        if not low.startswith('hklm\\software\\classes\\') or low.startswith('hklm\\software\\classes\\installer\\'):
            continue
        for name, (kind, data) in values.items():
            rows.add((key, name, kind, data))
    return rows


OURS = re.compile(r'vantrel|kestrane|3f2e80aa-c708|bab6daff-3714|4a229e0a-d8ce|a817e7a2-43fa|72446aa0-3f9f', re.I)


def ours_differences(before, after, product_codes):
    """Every key or value of ours that differs between two registry states."""
    squished = {squish(c).lower() for c in product_codes}
    pattern = re.compile(OURS.pattern + ''.join('|' + re.escape(s) for s in squished), re.I)
    b, a = winreg_text.entries(before), winreg_text.entries(after)
    out = []
    for sign, rows in (('+', a - b), ('-', b - a)):
        for key, name, kind, data in sorted(rows, key=lambda r: tuple(str(x) for x in r)):
            text = '%s %s %s' % (key, name or '', data or '')
            if pattern.search(text):
                out.append('%s %s [%s] = %s' % (sign, key, name, data))
    return out


def squish(code):
    """A product code as the installer's own keys name it (each part's hex digits reversed)."""
    h = code.strip('{}').replace('-', '')
    parts = [h[0:8], h[8:12], h[12:16]] + [h[i:i + 2] for i in range(16, 32, 2)]
    return ''.join(p[::-1] for p in parts)


def installed_files():
    out = []
    for root, _, names in os.walk(PROGRAM_UNIX):
        for n in names:
            out.append(os.path.relpath(os.path.join(root, n), PROGRAM_UNIX))
    return sorted(out)


def start_menu_link():
    for base in ('ProgramData/Microsoft/Windows/Start Menu/Programs', 'users/Public/Start Menu/Programs'):
        p = os.path.join(PREFIX, 'drive_c', base, 'Vantrel.lnk')
        if os.path.exists(p):
            return p
    found = [os.path.join(r, n) for r, _, ns in os.walk(os.path.join(PREFIX, 'drive_c')) for n in ns
             if n.lower() == 'vantrel.lnk']
    return found[0] if found else None


def arp_entry(keys):
    for key, values in keys.items():
        if re.match(r'hklm\\software\\(wow6432node\\)?microsoft\\windows\\currentversion\\uninstall\\\{', key) \
                and values.get('DisplayName', (None, ''))[1] == 'Vantrel':
            return key, {n: v[1] for n, v in values.items()}
    return None, {}


def sign_verify(paths):
    """scripts/sign.sh's verification of each file against the roots the build signs with."""
    p = subprocess.run(['bash', '-c', '. "$0/scripts/sign.sh" && vantrel_sign_verify "$@"', ROOT] + paths,
                       capture_output=True, text=True)
    return p.returncode == 0, (p.stdout + p.stderr).strip()


def check_signed_parts(package):
    """The package, every program and DLL it installs and, in the x64 one, the identity package
    are signed; the identity package reads back whole and names the shell extension's command."""
    parts = [package] + sorted(os.path.join(r, n) for d in filter(None, (DIST, DIST32)) for r, _, ns in os.walk(d)
                               for n in ns if n.lower().endswith(('.exe', '.dll', '.msix')))
    ok, out = sign_verify(parts)
    check('the package and the %d programs, DLLs and packages it installs are signed' % (len(parts) - 1), ok, out)
    if ARCH != 'x64':
        return
    msix = os.path.join(DIST, 'VantrelIdentity.msix')
    unzip = subprocess.run(['unzip', '-t', msix], capture_output=True, text=True)
    ours = subprocess.run([sys.executable, os.path.join(ROOT, 'scripts', 'msix.py'), 'check', msix],
                          capture_output=True, text=True)
    with open(os.path.join(PACKAGES, 'regsvr32-x64.tsv'), encoding='utf-8') as f:
        registered = {m.upper() for m in re.findall(r'CLSID\\(\{[0-9A-Fa-f-]{36}\})\\InprocServer32', f.read())}
    named = {'{%s}' % m.upper() for m in re.findall(r'([0-9A-Fa-f]{8}-[0-9A-Fa-f-]{27})', ours.stdout)}
    check('the identity package unzips, its block map matches, and it names a class the DLL registers',
          unzip.returncode == 0 and ours.returncode == 0 and bool(named) and named <= registered,
          '%s\n%s%s\nnamed %s, registered %s' % (unzip.stdout[-300:], ours.stdout, ours.stderr, named, registered))


def check_identity_action(log, action, after, before=None):
    """The installer ran the service program's identity package step, in its place (Wine has no
    package manager, so the step's own answer there is that the feature is not present)."""
    lines = log.splitlines()
    at = lambda name: next((i for i, l in enumerate(lines) if re.search(r'(Doing action: |Action start [0-9:]+: )%s\b' % name, l)), -1)  # noqa: E731
    ran, start, end = at(action), at(after) if after else -1, at(before) if before else len(lines)
    ended = any(re.search(r'Action ended.*%s\. Return value 1' % action, l) for l in lines)
    check('%s ran %s and succeeded' % (action, 'after ' + after if after else 'before ' + before),
          ran >= 0 and start < ran < end and ended,
          '\n'.join(l for l in lines if action in l or 'Action start' in l)[-2000:])


def check_identity_command():
    """The package's own registration command line, its properties resolved as the installer
    resolves them, names the installed identity package and folder: the service program takes
    it and answers that Wine has no package manager (the action's result is not looked at by
    the installer, so a wrong argument would go unseen there)."""
    with open(os.path.join(PACKAGES, 'Vantrel-%s-x64.wxs' % VERSION), encoding='utf-8') as f:
        found = re.search(r'Id="RegisterIdentityPackage"[^>]*ExeCommand=(?:"([^"]*)"|\'([^\']*)\')', f.read())
    if not check('the package has its identity registration command', found is not None):
        return
    command = (found.group(1) or found.group(2)).replace('&quot;', '"').replace('[#VantrelIdentityMsix]', PROGRAM_DIR + '\\VantrelIdentity.msix') \
                     .replace('[INSTALLDIR]', PROGRAM_DIR + '\\')
    args = [q or w for q, w in re.findall(r'"([^"]*)"|(\S+)', command)]
    p = wine(PROGRAM_DIR + '\\VantrelRegistrator.exe', *args)
    check('the registration command the package runs is taken, and says the feature is not present here',
          p.returncode == 0 and 'feature not present' in p.stdout, '%s\nexit %d: %s%s' % (args, p.returncode, p.stdout, p.stderr))


def main():
    print('== package %s: Vantrel-%s-%s.msi in a %s prefix' % (ARCH, VERSION, ARCH, env['WINEARCH']))
    if ARCH == 'x86' and not RUNS_32BIT:
        # A 32-bit prefix runs nothing but 32-bit programs (msiexec, the service, the program).
        skip('the x86 package in a 32-bit prefix', NO_32BIT)
        return
    if ARCH == 'x86' and env.get('VANTREL_32BIT_THREADS') == '0':
        # Its prefix's own services (services.exe, winedevice, plugplay, msiexec) run
        # several threads at once, and the emulator here ends such 32-bit processes with a
        # segmentation fault: the prefix does not even finish booting.
        skip('the x86 package in a 32-bit prefix',
             'its prefix\'s services run several threads at once, which %s ends with a segmentation fault'
             % env.get('VANTREL_32BIT_EMULATOR', ''))
        return
    package = os.path.join(PACKAGES, 'Vantrel-%s-%s.msi' % (VERSION, ARCH))
    if not os.path.exists(package):
        check('package built', False, package + ' is missing')
        return
    winpkg = lambda p: 'Z:' + os.path.abspath(p).replace('/', '\\')  # noqa: E731
    check_signed_parts(package)

    subprocess.run(['wineserver', '-k'], env=env, capture_output=True)
    shutil.rmtree(PREFIX, ignore_errors=True)
    os.makedirs(PREFIX)
    subprocess.run(['wineboot', '-i'], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300 * SCALE)
    settle()

    # A machine-wide type as Windows has it, and a type of the user's own.
    for args in (('HKLM\\Software\\Classes\\.txt', '/ve', '/d', 'txtfile'),
                 ('HKLM\\Software\\Classes\\txtfile', '/ve', '/d', 'Text Document'),
                 ('HKLM\\Software\\Classes\\txtfile\\DefaultIcon', '/ve', '/t', 'REG_EXPAND_SZ', '/d',
                  '%SystemRoot%\\system32\\notepad.exe,0'),
                 ('HKCU\\Software\\Classes\\.vtnote', '/ve', '/d', 'vtnotefile'),
                 ('HKCU\\Software\\Classes\\vtnotefile\\DefaultIcon', '/ve', '/t', 'REG_EXPAND_SZ', '/d',
                  '%SystemRoot%\\system32\\notepad.exe,0')):
        wine('reg', 'add', *args, '/f')
    work = os.path.join(PREFIX, 'drive_c', 'vantrel-files')
    os.makedirs(work)
    for n in ('report.txt', 'plan.vtnote'):
        with open(os.path.join(work, n), 'wb') as f:
            f.write(b'figures\r\n')
    before = registry()

    # --- install -------------------------------------------------------------------------
    x86 = os.path.join(PACKAGES, 'Vantrel-%s-x86.msi' % VERSION)
    if ARCH == 'x64' and os.path.exists(x86):
        rc, _, log = msiexec('/i', winpkg(x86))
        check('the x86 package refuses 64-bit Windows (launch condition)',
              rc % 256 == 1603 % 256 and not os.path.exists(PROGRAM_UNIX)
              and ('install Vantrel-%s-x64.msi' % VERSION in log or 'LaunchConditions. Return value 0' in log),
              'exit %d' % rc)
    elif ARCH == 'x64' and not RUNS_32BIT:
        skip('the x86 package refuses 64-bit Windows (launch condition)',
             'no x86 package: its registration data is taken in a 32-bit prefix, and ' + NO_32BIT)
    rc, secs, log = msiexec('/i', winpkg(package))
    print('  install: exit %d, %.1f s' % (rc, secs))
    if not check('msiexec /i /qn succeeds', rc == 0, '\n'.join(log.splitlines()[-15:])):
        return
    if ARCH == 'x64':
        check_identity_action(log, 'RegisterIdentityPackage', 'InstallFiles')
        check_identity_command()
    after = registry()

    expected = sorted(os.path.relpath(os.path.join(r, n), DIST) for r, _, ns in os.walk(DIST) for n in ns)
    if DIST32:
        expected = sorted(expected + ['VantrelShlExt32.dll'])
    files = installed_files()
    same = files == expected and all(
        open(os.path.join(PROGRAM_UNIX, f), 'rb').read() == open(
            os.path.join(DIST32 if f == 'VantrelShlExt32.dll' and DIST32 else DIST, f), 'rb').read()
        for f in files)
    check('program folder holds dist/ byte for byte', same, 'installed %s, dist %s' % (files, expected))

    want, got = expected_com(), com_written(before, after)
    # Where no 32-bit regsvr32 runs, the 32-bit DLL's part is derived (scripts/package.sh).
    derived = '' if RUNS_32BIT or ARCH != 'x64' else '; the 32-bit DLL\'s derived from the 64-bit one\'s'
    check('COM registration equals what regsvr32 of each DLL writes (%d values%s)' % (len(want), derived),
          want == got and len(want) > 0,
          'missing: %s\nextra: %s' % (sorted(want - got), sorted(got - want)))
    if ARCH == 'x64' and RUNS_32BIT:
        # The registration derived from the 64-bit DLL's (what machines without 32-bit
        # programs ship) against what the real 32-bit regsvr32 wrote here.
        real, derived = (tsv_rows('regsvr32-x64-%s32.tsv' % k) for k in ('real', 'derived'))
        check('the 32-bit DLL\'s registration from the real 32-bit regsvr32 equals the derived one (%d values)'
              % len(real), real == derived and len(real) > 0,
              'only written: %s\nonly derived: %s' % (sorted(real - derived), sorted(derived - real)))
    views = [('64-bit', 'HKLM\\Software\\Kestrane\\Vantrel'), ('32-bit', 'HKLM\\' + WOW + 'Kestrane\\Vantrel')]
    for view, key in views[1 if ARCH == 'x86' else 0:]:
        check('VantrelPath and VantrelDir in the %s view' % view,
              value(after, key, 'VantrelPath') == PROGRAM_DIR + '\\Vantrel.exe'
              and value(after, key, 'VantrelDir') == PROGRAM_DIR,
              str(after.get(key.lower())))
    check('ServicePort %d in the 32-bit view' % PORT, value(after, views[1][1], 'ServicePort') == str(PORT),
          str(after.get(views[1][1].lower())))

    service = after.get('hklm\\system\\currentcontrolset\\services\\vantrelregistrator', {})
    image = service.get('ImagePath', (None, ''))[1]
    check('service installed: automatic, LocalSystem, the installed program',
          service.get('Start', (0, ''))[1] == '2' and service.get('ObjectName', (0, ''))[1] == 'LocalSystem'
          and image.strip('"').lower() == (PROGRAM_DIR + '\\VantrelRegistrator.exe').lower()
          and service.get('DisplayName', (0, ''))[1] == package_wxs.SERVICE_DISPLAY, str(service))
    source = after.get('hklm\\system\\currentcontrolset\\services\\eventlog\\application\\vantrelregistrator', {})
    check('event source names the service program as its message file',
          source.get('EventMessageFile', (0, ''))[1].lower() == (PROGRAM_DIR + '\\VantrelRegistrator.exe').lower(),
          str(source))
    answer = wait_http('/probe')
    check('service running and answering on 127.0.0.1:%d' % PORT, answer is not None and answer[0] == 404,
          str(answer))

    # A second server on the port the service holds cannot listen: it says so, and writes the
    # same text to the Application log (Wine has no event log; it passes an error entry's
    # text to its own error channel, which is how it shows here).
    p = wine(PROGRAM_DIR + '\\VantrelRegistrator.exe', '--console', timeout=60 * SCALE, debug='err+eventlog')
    said = 'cannot listen on 127.0.0.1:%d' % PORT
    logged = [line for line in p.stderr.splitlines() if 'eventlog' in line and said in line]
    check('a server that cannot listen reports it on the console and to the event log',
          p.returncode == 1 and said in p.stderr and bool(logged), 'exit %d: %s' % (p.returncode, p.stderr[-800:]))

    check('Start menu shortcut "Vantrel"', start_menu_link() is not None)
    arp_key, arp = arp_entry(after)
    product_code = arp_key.rsplit('\\', 1)[1].upper() if arp_key else ''
    size_kb = sum(os.path.getsize(os.path.join(PROGRAM_UNIX, f)) for f in files) // 1024
    check('Add/Remove Programs entry: publisher, version, size',
          arp.get('Publisher') == 'Kestrane' and arp.get('DisplayVersion') == VERSION
          and any(size_kb <= int(v) <= size_kb + 64 for v in (arp.get('EstimatedSize'), arp.get('Size'))
                  if v and v.isdigit()),
          '%s %s (%d KB installed)' % (arp_key, arp, size_kb))
    # Windows writes the icon as DisplayIcon; Wine keeps it with the product's advertised data.
    product_key = [k for k in after if k.endswith('installer\\products\\' + squish(product_code).lower())]
    icon = arp.get('DisplayIcon') or (value(after, product_key[0], 'ProductIcon') if product_key else None)
    check('the entry has the product\'s icon', bool(icon) and re.search(r'vantrelicon\.(ico|exe)$', icon.lower()) is not None,
          '%s %s' % (product_key, icon))

    # --- the installed program marks through the installed service ------------------------
    lst = os.path.join(work, 'mark.tmp')
    with open(lst, 'wb') as f:
        f.write(b'C:\\vantrel-files\\report.txt\r\n')
    # The test driver reports and closes any message box the program shows.
    drive = os.path.join(ROOT, 'build', 'win64' if ARCH == 'x64' else 'win32', 'tests', 'app', 'vantrel_drive.exe')
    wait_http('/probe')
    p = wine(*([drive] if os.path.exists(drive) else []), PROGRAM_DIR + '\\Vantrel.exe', '-oi',
             'C:\\vantrel-files\\mark.tmp', PROGRAM_DIR + '\\icl\\Main.icl', '6', timeout=180 * SCALE)
    print('  Vantrel.exe -oi: exit %d %s' % (p.returncode, p.stdout.strip().replace('\r', '').replace('\n', ' | ')))
    marked = registry()
    check('installed Vantrel.exe -oi marks a file of a machine-wide type through the service',
          p.returncode == 0 and os.path.exists(os.path.join(work, 'report.txt:vantrelicon'))
          and value(marked, 'HKLM\\Software\\Classes\\txtfile\\ShellEx\\IconHandler') == CLSID,
          'exit %d, streams %s, handler %s' % (p.returncode, os.listdir(work),
                                              value(marked, 'HKLM\\Software\\Classes\\txtfile\\ShellEx\\IconHandler')))
    # Wine's HKEY_CLASSES_ROOT does not merge the user's classes, so the program cannot make
    # itself the handler of the user's own type here: the value is set as it would set it,
    # beside another program's handler that must stay.
    wine('reg', 'add', 'HKCU\\Software\\Classes\\vtnotefile\\ShellEx\\IconHandler', '/ve', '/d', CLSID, '/f')
    wine('reg', 'add', 'HKCU\\Software\\Classes\\vtotherfile\\ShellEx\\IconHandler', '/ve', '/d', OTHER, '/f')

    # --- repair ---------------------------------------------------------------------------
    os.remove(os.path.join(PROGRAM_UNIX, 'icl', 'Main.icl'))
    rc, secs, _ = msiexec('/i', winpkg(package), 'REINSTALL=ALL', 'REINSTALLMODE=vamus')
    check('repair (REINSTALL=ALL) restores a deleted file (%.1f s)' % secs,
          rc == 0 and os.path.exists(os.path.join(PROGRAM_UNIX, 'icl', 'Main.icl')), 'exit %d' % rc)
    rc, secs, _ = msiexec('/i', winpkg(package))
    check('installing the same package again succeeds and the service answers',
          rc == 0 and (wait_http('/probe') or (0,))[0] == 404, 'exit %d' % rc)

    # --- upgrade --------------------------------------------------------------------------
    newer_dir = os.path.join(PACKAGES, 'upgrade')
    with tempfile.TemporaryFile() as out:
        build = subprocess.run(['bash', os.path.join(ROOT, 'scripts', 'package.sh')], stdout=out, stderr=out,
                               env=dict(os.environ, VANTREL_PACKAGE_VERSION=NEWER, VANTREL_PACKAGES=newer_dir,
                                        VANTREL_PACKAGE_ARCHS=ARCH))
        out.seek(0)
        build.stdout, build.stderr = out.read().decode('utf-8', 'replace'), ''
    newer = os.path.join(newer_dir, 'Vantrel-%s-%s.msi' % (NEWER, ARCH))
    codes = [product_code]
    if check('a package of version %s builds' % NEWER, build.returncode == 0 and os.path.exists(newer),
             build.stdout[-2000:] + build.stderr[-2000:]):
        rc, secs, log = msiexec('/i', winpkg(newer))
        upgraded = registry()
        new_key, new_arp = arp_entry(upgraded)
        codes.append(new_key.rsplit('\\', 1)[1] if new_key else '')
        old_left = [k for k in upgraded if product_code and k.endswith('\\uninstall\\' + product_code.lower())]
        check('upgrade to %s replaces %s (%.1f s)' % (NEWER, VERSION, secs),
              rc == 0 and new_arp.get('DisplayVersion') == NEWER and not old_left
              and (wait_http('/probe') or (0,))[0] == 404 and installed_files() == files,
              'exit %d, %s, old entry %s, files %s' % (rc, new_arp, old_left, installed_files()))
        kept = value(upgraded, 'HKLM\\Software\\Classes\\txtfile\\ShellEx\\IconHandler') == CLSID
        if not kept and 'UPGRADINGPRODUCTCODE' not in log:
            # The older product's removal takes them back unless it learns it is being
            # upgraded; Wine's RemoveExistingProducts does not tell it (no UPGRADINGPRODUCTCODE).
            skip('the upgrade keeps the icon handlers the service wrote',
                 'Wine removes the older product without UPGRADINGPRODUCTCODE')
        else:
            check('the upgrade keeps the icon handlers the service wrote', kept)
        rc, _, log = msiexec('/i', winpkg(package))
        # Windows logs the condition's message; Wine's log has only the failed action.
        check('the older package refuses to install over the newer one (launch condition)',
              rc % 256 == 1603 % 256 and ('A newer version of Vantrel is already installed' in log
                                         or 'LaunchConditions. Return value 0' in log)
              and arp_entry(registry())[1].get('DisplayVersion') == NEWER, 'exit %d' % rc)
        package = newer

    # --- uninstall ------------------------------------------------------------------------
    rc, secs, log = msiexec('/x', winpkg(package))
    print('  uninstall: exit %d, %.1f s' % (rc, secs))
    check('msiexec /x /qn succeeds', rc == 0, '\n'.join(log.splitlines()[-15:]))
    if ARCH == 'x64':
        check_identity_action(log, 'UnregisterIdentityPackage', None, before='RemoveFiles')
    gone = registry()
    # The program's per-user cache index stays with the data folder its files live in.
    diff = [d for d in ours_differences(before, gone, [c for c in codes if c])
            if not re.match(r'\+ hku\\software\\kestrane(\\vantrel)?( \[None\]|\\cache)', d)]
    check('the registry holds nothing of ours that it did not hold before the install', not diff,
          '\n'.join(diff[:40]))
    check('no file of ours in Program Files', not os.path.exists(os.path.dirname(PROGRAM_UNIX)),
          str(installed_files()))
    check('the service is gone and does not answer',
          'hklm\\system\\currentcontrolset\\services\\vantrelregistrator' not in gone
          and wait_http('/probe', want_up=False) is None)
    check('machine-wide and per-user icon handlers we set are gone, another program\'s stays',
          not any(k.endswith('\\shellex\\iconhandler') and value(gone, k) == CLSID for k in gone)
          and value(gone, 'hku\\software\\classes\\vtotherfile\\shellex\\iconhandler') == OTHER)
    check('Start menu shortcut gone', start_menu_link() is None)
    check('the marked file keeps its marker', os.path.exists(os.path.join(work, 'report.txt:vantrelicon')))


try:
    main()
finally:
    if Session.holder is not None:
        Session.holder.kill()
    subprocess.run(['wineserver', '-k'], env=env, capture_output=True)
print('packages-%s: %d passed, %d failed, %d skipped (%s)' % (ARCH, results['passed'], results['failed'],
                                                            results['skipped'], HOW_32BIT))
sys.exit(1 if results['failed'] else 0)
