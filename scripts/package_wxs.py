#!/usr/bin/env python3
"""Writes the WiX source of one Vantrel package for wixl.

  package_wxs.py capture <before.reg> <after.reg> <view> <out.tsv>
      What one regsvr32 run wrote under HKLM\\Software\\Classes, one value a line:
      view, key (as a program of that view names it), value name, type, data, and the key
      as the prefix stores it (what an installed package must write, compared by its test).
  package_wxs.py derive32 <after-64.reg> <64-bit rows.tsv> <dll64> <dll32> <out.tsv>
      Where no 32-bit program can run: what regsvr32 of the 32-bit DLL would write right
      after the 64-bit DLL's registration (<after-64.reg>, whose rows are given), as capture
      writes it. See derive32() for why that is the same registration.
  package_wxs.py wxs --arch x64|x86 --version V --dist DIR [--dist32 DIR] --com TSV... --out FILE
      The package: the program folder of dist/, the COM registration exactly as captured
      (the capture's program folder becomes the installed one), the program's HKLM values,
      the registrator service with its event source, the Start menu shortcut, the
      Add/Remove Programs entry and the upgrade rules.
"""
import argparse
import os
import sys
import uuid
from xml.sax.saxutils import quoteattr

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winreg_text  # noqa: E402

# Fixed for the life of the product: every Vantrel package of an architecture shares it.
UPGRADE_CODE = {'x64': '{5C0E7A52-3B9E-4F1D-9A4C-2E61B7D0F3A8}', 'x86': '{A1F4D6C3-8E27-4B5A-B90D-7C3E52F816D4}'}
# Component and product codes are derived from it, so they stay the same for the same thing.
NAMESPACE = uuid.UUID('9d3c1f6e-4b2a-4e8f-8c71-0a5b6e2d9f14')
# Where the registrator service listens (HKLM\Software\Kestrane\Vantrel "ServicePort").
SERVICE_PORT = 7394
# The capture registers the DLLs from the folder they are installed to.
CAPTURE_DIR = 'C:\\Program Files\\Kestrane\\Vantrel'
SERVICE_NAME = 'VantrelRegistrator'
SERVICE_DISPLAY = 'Vantrel Icon Handler Registrator'
SERVICE_DESCRIPTION = ('Makes the Vantrel shell extension the icon handler of machine-wide file types '
                       'on request of the Vantrel program.')
# The registrar interface of the platform's COM framework: the type library names it, so
# regsvr32 writes its Interface key, but on Windows the framework's own DLL owns that key;
# a package that wrote it would delete it again at uninstall, under other programs.
FOREIGN_INTERFACES = ('{a817e7a2-43fa-11d0-9e44-00aa00b6770a}',)
KEEPS = ('Your marked files keep their markers and colours, and your data folder '
         '(%AppData%\\Kestrane\\Vantrel) stays when Vantrel is removed.')


def guid(*parts):
    return '{%s}' % str(uuid.uuid5(NAMESPACE, '/'.join(parts))).upper()


def capture(before, after, view, out):
    changed = winreg_text.added(winreg_text.read(before), winreg_text.read(after))
    with open(out, 'w', encoding='utf-8') as f:
        for key in sorted(changed):
            if not key.lower().startswith('software\\classes\\'):
                continue  # Wine's own bookkeeping (devices, time stamps)
            key_view, name_in_view = winreg_text.split_view(key)
            if any(name_in_view.lower().startswith('software\\classes\\interface\\' + iid) for iid in FOREIGN_INTERFACES):
                continue
            if view == 32 and key_view == 64:
                key_view = 32  # a key both views share, written by the 32-bit DLL
            for name, (kind, data) in sorted(changed[key].items()):
                if kind not in ('REG_SZ', 'REG_DWORD'):
                    sys.exit('capture: %s\\%s has a type the package does not write: %s' % (key, name, kind))
                f.write('\t'.join([str(key_view), name_in_view, name, kind, data, key]) + '\n')


def _link_target(values):
    """The key a registry link points to, relative to HKEY_LOCAL_MACHINE, or None."""
    kind, data = values.get('SymbolicLinkValue', (None, None))
    if kind != 'hex(6)':
        return None
    target = bytes.fromhex(data).decode('utf-16-le').rstrip('\0')
    prefix = '\\Registry\\Machine\\'
    if not target.lower().startswith(prefix.lower()):
        sys.exit('derive32: a link outside HKEY_LOCAL_MACHINE: %s' % target)
    return target[len(prefix):]


def view32_key(keys, key):
    """Where a 32-bit process's write to HKEY_CLASSES_ROOT\\<key below Software\\Classes> is
    stored in a 64-bit prefix, as Wine's server places it: below Software\\Classes, the
    Wow6432Node is a shared key. A class key it holds is the 32-bit one (CLSID, Interface,
    ...); one it holds as a link goes to the link's target (TypeLib); every other class key
    is the one both views share (*, file types). (A 64-bit program asking for the 32-bit
    view, as "reg add /reg:32" does, gets every class key redirected in Wine 8, so it
    cannot stand in for the 32-bit regsvr32.)"""
    lower = {k.lower(): k for k in keys}
    parts = key.split('\\')
    if [p.lower() for p in parts[:2]] != ['software', 'classes'] or len(parts) < 3:
        sys.exit('derive32: %s is not below Software\\Classes' % key)
    node = 'Software\\Classes\\Wow6432Node\\' + parts[2]
    if node.lower() in lower:
        target = _link_target(keys[lower[node.lower()]])
        base = target if target else lower[node.lower()]
    else:
        base = '\\'.join(parts[:3])
    stored = base.split('\\')
    for part in parts[3:]:
        stored.append(part)
        # A Wow6432Node further down would redirect again: not a layout this knows.
        if '\\'.join(stored[:-1] + ['Wow6432Node']).lower() in lower:
            sys.exit('derive32: %s has a Wow6432Node of its own' % '\\'.join(stored[:-1]))
    # Keys that exist keep the spelling they are stored with.
    for i in range(len(stored), 0, -1):
        prefix = '\\'.join(stored[:i]).lower()
        if prefix in lower:
            return lower[prefix] + ''.join('\\' + p for p in stored[i:])
    return '\\'.join(stored)


def derive32(after, rows64, dll64, dll32, out):
    """The 32-bit DLL's registration, derived from the 64-bit DLL's.

    Both DLLs are built from the same sources: DllRegisterServer runs the same two
    registration scripts (the same REGISTRY resources, SimpleExtModule.rgs and
    SimpleShlExt.rgs) through the same Registrar, with %MODULE% the DLL's own path, then
    registers the DLL's type library with RegisterTypeLib. The type libraries are built
    from the same SimpleExt.idl and differ in their platform (widl --win32/--win64) and the
    sizes that follow from it, which RegisterTypeLib does not write; the platform names the
    library's path key (<lcid>\\win32 instead of win64). The only interface
    RegisterTypeLib registers (the registrar's, a dual one) is the platform's and is left
    out of the packages. So the 32-bit DLL writes the same keys and values with its own
    path, through the 32-bit registry view: CLSID keys in the 32-bit view, the type
    library's keys and the * context menu key in the keys both views share. A value a shared
    key already holds from the 64-bit DLL (the same handler, the library's name, FLAGS,
    HELPDIR: both DLLs are in one folder) is written unchanged, so regsvr32's capture has
    no line for it, and neither has this."""
    keys = winreg_text.read(after)
    lower = {k.lower(): v for k, v in keys.items()}
    name64 = dll64.rsplit('\\', 1)[1]
    paths = 0
    with open(rows64, encoding='utf-8') as f, open(out, 'w', encoding='utf-8') as o:
        for line in f:
            view, key, name, kind, data, _ = line.rstrip('\n').split('\t')
            if view != '64':
                sys.exit('derive32: the 64-bit DLL wrote %s in the 32-bit view' % key)
            if data.lower() == dll64.lower():
                data, paths = dll32, paths + 1
            parts = key.split('\\')
            if parts[-1].lower() == 'win64' and len(parts) == 7 and parts[2].lower() == 'typelib':
                parts[-1] = 'win32'
            key = '\\'.join(parts)
            for text in (key, name, data):
                if name64.lower() in text.lower() or 'win64' in text.lower():
                    sys.exit('derive32: %s\\%s = %s: a use of the 64-bit DLL this does not know' % (key, name, data))
            stored = view32_key(keys, key)
            if lower.get(stored.lower(), {}).get(name) == (kind, data):
                continue
            o.write('\t'.join(['32', key, name, kind, data, stored]) + '\n')
    if not paths:
        sys.exit('derive32: the 64-bit rows never name %s: nothing to derive from' % dll64)


def read_capture(path):
    rows = []
    with open(path, encoding='utf-8') as f:
        for line in f:
            view, key, name, kind, data, _ = line.rstrip('\n').split('\t')
            rows.append((int(view), key, name, kind, data))
    return rows


def a(**attrs):
    return ' '.join('%s=%s' % (k.rstrip('_'), quoteattr(str(v))) for k, v in attrs.items() if v is not None)


class Wxs:
    def __init__(self, arch, version):
        self.arch, self.version = arch, version
        self.win64 = 'yes' if arch == 'x64' else 'no'
        self.lines = []
        self.components = []
        self.ids = 0

    def out(self, text):
        self.lines.append(text)

    def component(self, cid, win64, body, directory=None):
        self.components.append(cid)
        self.out('<Component %s>' % a(Id=cid, Guid=guid(self.arch, cid), Win64=win64))
        for line in body:
            self.out('  ' + line)
        self.out('</Component>')

    def next_id(self, prefix):
        self.ids += 1
        return '%s%d' % (prefix, self.ids)


def installed(text, program_files):
    """Registry data of the capture with the capture's folder replaced by the installed one."""
    low = text.lower()
    folder = CAPTURE_DIR.lower()
    if low.startswith(folder + '\\'):
        return '[INSTALLDIR]' + text[len(folder) + 1:]
    if low == folder:
        return '[%s]Kestrane\\Vantrel' % program_files
    return text.replace('[', '[\\[]').replace(']', '[\\]]') if ('[' in text or ']' in text) else text


def registry_values(w, rows, program_files):
    body = []
    for (_, key, name, kind, data) in rows:
        assert key.lower().startswith('software\\classes\\')
        body.append('<RegistryValue %s/>' % a(
            Id=w.next_id('Com'), Root='HKCR', Key=key[len('software\\classes\\'):],
            Name=name if name else None, Type='string' if kind == 'REG_SZ' else 'integer',
            Value=installed(data, program_files) if kind == 'REG_SZ' else data,
            KeyPath='yes' if not body else None))
    return body


# The identity package's file in the program folder (scripts/package.sh puts it there).
IDENTITY_PACKAGE = 'VantrelIdentity.msix'


def write_wxs(args):
    arch, version = args.arch, args.version
    w = Wxs(arch, version)
    program_files = 'ProgramFiles64Folder' if arch == 'x64' else 'ProgramFilesFolder'
    platform = 'x64' if arch == 'x64' else 'x86'
    # wixl looks source files up relative to the folder it runs in.
    base = args.base or os.getcwd()
    rel_src = lambda p: os.path.relpath(p, base)  # noqa: E731
    dist = args.dist
    files = []
    for root, _, names in os.walk(dist):
        for n in sorted(names):
            rel = os.path.relpath(os.path.join(root, n), dist)
            files.append((rel, os.path.join(root, n)))
    if args.dist32:
        files.append(('VantrelShlExt32.dll', os.path.join(args.dist32, 'VantrelShlExt32.dll')))
    files.sort()
    size_kb = (sum(os.path.getsize(src) for _, src in files) + 1023) // 1024
    names = {rel for rel, _ in files}
    for needed in ('Vantrel.exe', 'VantrelRegistrator.exe', os.path.join('icl', 'Main.icl')):
        if needed not in names:
            sys.exit('package: %s is missing in %s' % (needed, dist))

    w.out('<?xml version="1.0" encoding="utf-8"?>')
    w.out('<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">')
    w.out('<Product %s>' % a(Id=guid(arch, 'product', version), Name='Vantrel', Language='1033', Version=version,
                             Manufacturer='Kestrane', UpgradeCode=UPGRADE_CODE[arch]))
    w.out('<Package %s/>' % a(InstallerVersion='500', Compressed='yes', InstallScope='perMachine',
                              Manufacturer='Kestrane',
                              Description='Vantrel %s (%s): file markers and colours in Explorer' % (version, platform),
                              Comments=KEEPS))
    w.out('<Media Id="1" Cabinet="vantrel.cab" EmbedCab="yes"/>')
    # The program's icon (the picture of Vantrel.exe's icon resource 1) for the shortcut and
    # Add/Remove Programs; as an .ico file, so the package does not carry the program twice.
    icon_src = args.icon or os.path.join(dist, 'Vantrel.exe')
    icon_id = 'VantrelIcon' + os.path.splitext(icon_src)[1].lower()
    w.out('<Icon %s/>' % a(Id=icon_id, SourceFile=rel_src(icon_src)))
    for pid, value in (('ARPPRODUCTICON', icon_id), ('ARPHELPLINK', 'https://www.kestrane.com/contact/'),
                       ('ARPURLINFOABOUT', 'https://www.kestrane.com/vantrel/'), ('ARPCOMMENTS', KEEPS),
                       ('ARPNOMODIFY', '1'), ('ARPSIZE', str(size_kb))):
        w.out('<Property %s/>' % a(Id=pid, Value=value))

    # A newer package replaces an older one; an older one refuses to go over a newer one.
    w.out('<Upgrade %s>' % a(Id=UPGRADE_CODE[arch]))
    w.out('  <UpgradeVersion %s/>' % a(Minimum='0.0.0.0', IncludeMinimum='yes', Maximum=version,
                                        IncludeMaximum='no', Property='OLDERVANTRELFOUND'))
    w.out('  <UpgradeVersion %s/>' % a(Minimum=version, IncludeMinimum='no', OnlyDetect='yes',
                                        Property='NEWERVANTRELFOUND'))
    w.out('</Upgrade>')
    w.out('<Condition Message="A newer version of Vantrel is already installed. '
          'This older package cannot replace it; remove the newer version first.">'
          'NOT NEWERVANTRELFOUND</Condition>')
    if arch == 'x86':
        w.out('<Condition Message="This package is for 32-bit Windows. '
              'On 64-bit Windows install Vantrel-%s-x64.msi.">NOT VersionNT64</Condition>' % version)

    w.out('<Directory Id="TARGETDIR" Name="SourceDir">')
    w.out('<Directory Id="%s">' % program_files)
    w.out('<Directory Id="KestraneFolder" Name="Kestrane">')
    w.out('<Directory Id="INSTALLDIR" Name="Vantrel">')

    file_ids = {}
    by_dir = {}
    for rel, src in files:
        by_dir.setdefault(os.path.dirname(rel), []).append((rel, src))

    def file_component(rel, src):
        name = os.path.basename(rel)
        fid = {'Vantrel.exe': 'VantrelExe', 'VantrelRegistrator.exe': 'VantrelRegistratorExe',
               IDENTITY_PACKAGE: 'VantrelIdentityMsix'}.get(
            name, 'F_' + ''.join(c if c.isalnum() else '_' for c in rel))
        file_ids[rel] = fid
        body = ['<File %s/>' % a(Id=fid, Name=name, Source=rel_src(src), KeyPath='yes')]
        # Each folder goes with the first file of it, when it is empty (wixl removes the
        # folder of the component that holds the entry).
        folder = os.path.dirname(rel)
        if by_dir[folder][0][0] == rel:
            body.append('<RemoveFolder %s/>' % a(Id='RemoveFolder_' + fid, On='uninstall'))
        if name == 'VantrelRegistrator.exe':
            body += ['<ServiceInstall %s/>' % a(Id='RegistratorService', Name=SERVICE_NAME, DisplayName=SERVICE_DISPLAY,
                                                 Description=SERVICE_DESCRIPTION, Type='ownProcess', Start='auto',
                                                 ErrorControl='normal', Account='LocalSystem', Vital='yes'),
                     '<ServiceControl %s/>' % a(Id='RegistratorServiceControl', Name=SERVICE_NAME, Start='install',
                                                 Stop='both', Remove='uninstall', Wait='yes')]
            # The service's event source: its entries in the Application log read from this
            # program's message table.
            body += ['<RegistryValue %s/>' % a(Root='HKLM', Key='SYSTEM\\CurrentControlSet\\Services\\EventLog\\'
                                                'Application\\' + SERVICE_NAME, Name=n, Type=t, Value=v)
                     for n, t, v in (('EventMessageFile', 'expandable', '[#VantrelRegistratorExe]'),
                                     ('TypesSupported', 'integer', '7'))]
        # The 32-bit shell extension of the 64-bit package is a 32-bit component.
        win64 = 'no' if rel == 'VantrelShlExt32.dll' else w.win64
        w.component('C_' + fid, win64, body)

    for rel, src in by_dir.get('', []):
        file_component(rel, src)
    for sub in sorted(d for d in by_dir if d):
        w.out('<Directory %s>' % a(Id='D_' + sub.replace(os.sep, '_'), Name=sub))
        for rel, src in by_dir[sub]:
            file_component(rel, src)
        w.out('</Directory>')

    # COM registration, exactly as regsvr32 of each DLL writes it, each in its own view.
    rows = []
    for path in args.com:
        rows += read_capture(path)
    for view in (64, 32):
        part = [r for r in rows if r[0] == view]
        if part:
            w.component('ComRegistration%d' % view, 'yes' if view == 64 else 'no',
                        registry_values(w, part, program_files))

    # Where the shell extension finds the program, in both views; the service's port where
    # the program and the service read it, the 32-bit view.
    views = ((64, 'yes'), (32, 'no')) if arch == 'x64' else ((32, 'no'),)
    for view, win64 in views:
        body = ['<RegistryValue %s/>' % a(Root='HKLM', Key='Software\\Kestrane\\Vantrel', Name='VantrelPath',
                                          Type='string', Value='[#VantrelExe]', KeyPath='yes'),
                '<RegistryValue %s/>' % a(Root='HKLM', Key='Software\\Kestrane\\Vantrel', Name='VantrelDir',
                                          Type='string', Value='[%s]Kestrane\\Vantrel' % program_files)]
        if view == 32:
            body.append('<RegistryValue %s/>' % a(Root='HKLM', Key='Software\\Kestrane\\Vantrel', Name='ServicePort',
                                                  Type='integer', Value=str(SERVICE_PORT)))
        w.component('ProgramValues%d' % view, win64, body)

    w.out('</Directory>')  # INSTALLDIR
    w.component('KestraneFolderRemoval', w.win64, ['<RemoveFolder Id="RemoveKestraneFolder" On="uninstall"/>'])
    w.out('</Directory>')  # Kestrane
    w.out('</Directory>')  # Program Files
    w.out('<Directory Id="ProgramMenuFolder">')
    w.component('StartMenuShortcut', w.win64, [
        '<Shortcut %s/>' % a(Id='StartMenuVantrel', Name='Vantrel', Target='[#VantrelExe]',
                             Description='Marks files with markers and colours', WorkingDirectory='INSTALLDIR',
                             Icon=icon_id)])
    w.out('</Directory>')
    w.out('</Directory>')  # TARGETDIR

    w.out('<Feature Id="Complete" Title="Vantrel" Level="1">')
    for cid in w.components:
        w.out('  <ComponentRef Id="%s"/>' % cid)
    w.out('</Feature>')

    # Uninstall takes back the icon handlers first: the machine-wide ones the service wrote
    # (as LocalSystem) and the user's own (as the user), while the service still runs.
    # Not on an upgrade, where the newer version keeps them.
    w.out('<CustomAction %s/>' % a(Id='UnregisterUserHandlers', FileKey='VantrelRegistratorExe',
                                   ExeCommand='--unregister-user', Execute='deferred', Impersonate='yes',
                                   Return='ignore'))
    w.out('<CustomAction %s/>' % a(Id='UnregisterAllHandlers', FileKey='VantrelRegistratorExe',
                                   ExeCommand='--unregister-all', Execute='deferred', Impersonate='no',
                                   Return='ignore'))
    # wixl places actions only by number: after StopServices' neighbour UnpublishFeatures
    # (1800) and before StopServices (1900); the older product goes right after
    # InstallValidate (1400), before anything of the newer one is installed.
    # On every change of an installed product (repair, uninstall, its removal by an upgrade)
    # the service is stopped by its own control call, which waits until it has stopped: its
    # program is no longer in use when the files go and its port is free when it starts again
    # (the installer's own stop may not wait).
    w.out('<CustomAction %s/>' % a(Id='StopRegistrator', FileKey='VantrelRegistratorExe', ExeCommand='--stop',
                                   Execute='deferred', Impersonate='no', Return='ignore'))
    # The identity package (x64 only): registered for all users with the program folder as
    # its external location once the files are there (install, repair, upgrade: the service
    # program replaces an earlier registration, so one stays), and taken back before the files
    # go on uninstall (an upgrade's removal of the older product leaves it to the newer one).
    # A registration that fails leaves the classic menu, so it does not undo the install; the
    # program reports the failure in the event log and the installer's log. The folder is
    # passed as "<folder>." since a backslash before the closing quote would escape it.
    identity = 'VantrelIdentityMsix' in file_ids.values()
    if identity:
        w.out('<CustomAction %s/>' % a(Id='RegisterIdentityPackage', FileKey='VantrelRegistratorExe',
                                       ExeCommand='--register-package "[#VantrelIdentityMsix]" "[INSTALLDIR]."',
                                       Execute='deferred', Impersonate='no', Return='ignore'))
        w.out('<CustomAction %s/>' % a(Id='UnregisterIdentityPackage', FileKey='VantrelRegistratorExe',
                                       ExeCommand='--unregister-package', Execute='deferred', Impersonate='no',
                                       Return='ignore'))
    w.out('<InstallExecuteSequence>')
    cond = 'REMOVE~="ALL" AND NOT UPGRADINGPRODUCTCODE'.replace('"', '&quot;')
    w.out('  <Custom Action="UnregisterUserHandlers" Sequence="1850">%s</Custom>' % cond)
    w.out('  <Custom Action="UnregisterAllHandlers" Sequence="1860">%s</Custom>' % cond)
    if identity:
        w.out('  <Custom Action="UnregisterIdentityPackage" Sequence="1865">%s</Custom>' % cond)
        w.out('  <Custom Action="RegisterIdentityPackage" Sequence="6500">%s</Custom>'
              % 'NOT REMOVE~="ALL"'.replace('"', '&quot;'))
    w.out('  <Custom Action="StopRegistrator" Sequence="1870">Installed</Custom>')
    w.out('  <RemoveExistingProducts Sequence="1401"/>')
    w.out('</InstallExecuteSequence>')
    w.out('</Product>')
    w.out('</Wix>')
    with open(args.out, 'w', encoding='utf-8') as f:
        f.write('\n'.join(w.lines) + '\n')


def main():
    if len(sys.argv) > 1 and sys.argv[1] == 'capture':
        capture(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5])
        return
    if len(sys.argv) > 1 and sys.argv[1] == 'derive32':
        if len(sys.argv) != 7:
            sys.exit('usage: package_wxs.py derive32 <after-64.reg> <64-bit rows.tsv> <dll64> <dll32> <out.tsv>')
        derive32(*sys.argv[2:])
        return
    p = argparse.ArgumentParser()
    p.add_argument('cmd', choices=['wxs'])
    p.add_argument('--arch', required=True, choices=['x64', 'x86'])
    p.add_argument('--version', required=True)
    p.add_argument('--dist', required=True)
    p.add_argument('--dist32')
    p.add_argument('--com', nargs='+', required=True)
    p.add_argument('--out', required=True)
    p.add_argument('--icon', help='the program\'s icon as an .ico file (default: Vantrel.exe itself)')
    p.add_argument('--base', help='folder wixl runs in (default: this one)')
    write_wxs(p.parse_args())


if __name__ == '__main__':
    main()
