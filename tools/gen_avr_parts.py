#!/usr/bin/env python3
"""Writes src/parts/avr_parts_table.cpp: the serially programmed AVR parts.

Facts come from two descriptions of the chips that Debian ships:
  - avr-libc's device headers (/usr/lib/avr/include/avr/io*.h): signature, flash, flash page and
    EEPROM sizes, the fuse bytes with each bit's name, description and factory value, the lock
    bits the part has;
  - avrdude's part descriptions (/etc/avrdude.conf): the serial programming instruction patterns,
    page or byte mode, write delays, polling values and the extended address instruction.
A part is taken when both describe it, avrdude programs it over ISP (not TPI, PDI or UPDI) and the
two agree on its signature and memory sizes.

Usage: tools/gen_avr_parts.py [--conf /etc/avrdude.conf] [--include /usr/lib/avr/include]
                              [--out src/parts/avr_parts_table.cpp]
"""

import argparse
import os
import re
import subprocess
import sys

# The twelve parts of the device catalogue: listed with the others, but programmed on their own
# code paths.
CATALOGUE_SIGNATURES = {
    (0x1E, 0x93, 0x01), (0x1E, 0x93, 0x03), (0x1E, 0x92, 0x01), (0x1E, 0x92, 0x02),
    (0x1E, 0x97, 0x02), (0x1E, 0x97, 0x01), (0x1E, 0x91, 0x01), (0x1E, 0x91, 0x02),
    (0x1E, 0x91, 0x03), (0x1E, 0x94, 0x01), (0x1E, 0x94, 0x02), (0x1E, 0x90, 0x05),
}


# ---- avrdude.conf ------------------------------------------------------------------------------

def strip_comment(line):
    out, quoted = [], False
    for c in line:
        if c == '"':
            quoted = not quoted
        if c == '#' and not quoted:
            break
        out.append(c)
    return ''.join(out)


def parse_conf(path):
    """Part blocks as dicts: {'id', 'parent', 'fields': {}, 'memories': {name: {}}}."""
    text = '\n'.join(strip_comment(l) for l in open(path, encoding='utf-8', errors='replace'))
    # Statements end with ';'; a part or memory block also ends with a lone ';'.
    tokens = re.findall(r'"[^"]*"|;|=|[^\s;=]+', text)
    parts, i, stack = [], 0, []
    current, memory, key, values = None, None, None, []

    def flush():
        nonlocal key, values
        if key is not None:
            target = memory if memory is not None else (current or {}).get('fields')
            if target is not None:
                target[key] = values
        key, values = None, []

    while i < len(tokens):
        t = tokens[i]
        if t == 'part' and key is None:
            current = {'fields': {}, 'memories': {}, 'parent': None}
            memory = None
            if i + 2 < len(tokens) and tokens[i + 1] == 'parent':
                current['parent'] = tokens[i + 2].strip('"')
                i += 2
            parts.append(current)
            i += 1
            continue
        if t == 'programmer' and key is None:
            current, memory = None, None
            i += 1
            continue
        if t == 'memory' and key is None and current is not None:
            name = tokens[i + 1].strip('"')
            memory = current['memories'].setdefault(name, {})
            i += 2
            continue
        if t == ';':
            if key is not None:
                flush()
            elif memory is not None:
                memory = None
            else:
                current = None
            i += 1
            continue
        if key is None and i + 1 < len(tokens) and tokens[i + 1] == '=':
            key = t
            i += 2
            continue
        if key is not None:
            values.append(t.strip('"').rstrip(','))
        i += 1
    return [p for p in parts if p.get('fields') is not None]


def resolve(parts):
    by_id = {}
    for p in parts:
        pid = p['fields'].get('id', [''])[0] if 'id' in p['fields'] else None
        p['id'] = pid
        by_id[pid] = p
    resolved = {}

    def get(p):
        if p['id'] in resolved:
            return resolved[p['id']]
        fields, memories = {}, {}
        if p['parent'] and p['parent'] in by_id:
            base = get(by_id[p['parent']])
            fields.update(base['fields'])
            memories = {k: dict(v) for k, v in base['memories'].items()}
        # A memory block of the child changes only the keys it names.
        fields.update(p['fields'])
        for name, mem in p['memories'].items():
            memories.setdefault(name, {}).update(mem)
        r = {'id': p['id'], 'fields': fields, 'memories': memories}
        resolved[p['id']] = r
        return r

    return [get(p) for p in parts if p['id']]


def value(fields, key, default=None):
    v = fields.get(key)
    if not v or v[0] == 'NULL':
        return default
    return v


def number(fields, key, default=0):
    v = value(fields, key)
    return int(v[0], 0) if v else default


def pattern(mem, key):
    """The 32 bit roles of an instruction, most significant bit of byte 1 first."""
    v = value(mem, key)
    if not v:
        return None
    bits = ''.join(v).replace('.', '').replace('-', '').replace(' ', '')
    if len(bits) != 32 or not set(bits) <= set('01xaio'):
        # The long form names address bits a0..a15; keep to the compact form avrdude 7 writes.
        raise ValueError('unexpected instruction pattern ' + ''.join(v))
    return bits


# ---- avr-libc headers --------------------------------------------------------------------------

def libc_devices(include):
    """Device macro name -> header file, from avr/io.h."""
    io = open(os.path.join(include, 'avr', 'io.h')).read()
    devices = {}
    for m in re.finditer(r'defined\s*\(?\s*__AVR_(\w+)__\s*\)?[^\n]*\n(?:#\s*elif[^\n]*\n)*'
                         r'\s*#\s*include\s*<avr/(io\w+\.h)>', io):
        pass
    # A branch names one or more devices, then the header they share.
    pending = []
    for line in io.splitlines():
        names = re.findall(r'__AVR_(\w+?)__', line)
        if re.match(r'\s*#\s*(if|elif)', line):
            pending = names
        inc = re.match(r'\s*#\s*include\s*<avr/(io\w+\.h)>', line)
        if inc and pending:
            for n in pending:
                devices[n] = inc.group(1)
            pending = []
    return devices


def macros(include, device):
    out = subprocess.run(
        ['cpp', '-nostdinc', '-dM', '-D__AVR_%s__' % device, '-I' + include, '-include',
         'avr/io.h', '-'], input='', capture_output=True, text=True)
    if out.returncode != 0:
        return None
    result = {}
    for line in out.stdout.splitlines():
        m = re.match(r'#define (\w+)(?:\s+(.*))?$', line)
        if m:
            result[m.group(1)] = (m.group(2) or '').strip()
    return result


def fuse_bits(header_text, defined):
    """[{bit: (name, description)}] per fuse byte in header order, and the defaults' names."""
    groups, current = [], {}
    names = {'LFUSE_DEFAULT': 0, 'HFUSE_DEFAULT': 1, 'EFUSE_DEFAULT': 2, 'FUSE_DEFAULT': 0}
    order = {}
    for line in header_text.splitlines():
        m = re.match(r'\s*#\s*define\s+FUSE_(\w+)\s+\(unsigned char\)\s*~\s*_BV\((\d)\)\s*'
                     r'(?:/\*\s*(.*?)\s*\*/)?', line)
        if m:
            bit = int(m.group(2))
            if bit not in current:
                current[bit] = (m.group(1), m.group(3) or '')
            continue
        m = re.match(r'\s*#\s*define\s+(\w*FUSE_DEFAULT)\b', line)
        if m and m.group(1) in names:
            order[names[m.group(1)]] = current
            current = {}
    return order


def eval_default(expr, defined):
    expr = expr.replace('(unsigned char)', '')
    expr = re.sub(r'_BV\((\d)\)', lambda m: str(1 << int(m.group(1))), expr)

    def sub(m):
        name = m.group(0)
        if name in defined and name != m.string:
            return '(' + eval_default(defined[name], defined) + ')'
        raise ValueError(name)

    expr = re.sub(r'\b[A-Z_][A-Z0-9_]*\b', sub, expr)
    return str(eval(expr) & 0xFF)


# ---- output ------------------------------------------------------------------------------------

def num(text):
    """A C integer literal, suffixes and parentheses allowed."""
    expr = re.sub(r'\b(0[xX][0-9a-fA-F]+|\d+)[uUlL]+\b', r'\1', text)
    if not re.fullmatch(r'[\s0-9a-fA-FxX()+*/<>-]*', expr):
        raise ValueError('not a number: ' + text)
    return int(eval(expr))


def c_string(s):
    if s is None:
        return 'nullptr'
    return '"' + s.replace('\\', '\\\\').replace('"', '\\"') + '"'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--conf', default='/etc/avrdude.conf')
    ap.add_argument('--include', default='/usr/lib/avr/include')
    ap.add_argument('--out', default=os.path.join(os.path.dirname(__file__), '..', 'src', 'parts',
                                                  'avr_parts_table.cpp'))
    args = ap.parse_args()

    conf = {}
    for p in resolve(parse_conf(args.conf)):
        desc = value(p['fields'], 'desc')
        if desc:
            conf[desc[0].upper()] = p
    devices = libc_devices(args.include)

    entries, skipped, notes = [], [], []
    for device in sorted(devices, key=str.upper):
        p = conf.get(device.upper())
        if p is None:
            continue
        f = p['fields']
        modes = ' '.join(value(f, 'prog_modes', ['']))
        if 'PM_ISP' not in modes or any(m in modes for m in ('PM_TPI', 'PM_PDI', 'PM_UPDI')):
            continue
        d = macros(args.include, device)
        if not d or 'FLASHEND' not in d:
            skipped.append((device, 'no flash size in the header'))
            continue
        conf_sig = tuple(int(x, 0) for x in value(f, 'signature', []))
        sig = conf_sig
        if 'SIGNATURE_0' in d:
            sig = tuple(num(d['SIGNATURE_%d' % i]) for i in range(3))
        if sig != conf_sig:
            # The chip answers what avrdude reads from it; a header that disagrees is noted.
            notes.append((device, 'header signature %02X%02X%02X, avrdude %02X%02X%02X' %
                          (sig + conf_sig)))
            sig = conf_sig
        if len(sig) != 3:
            continue
        mem = p['memories']
        fm, em = mem.get('flash', {}), mem.get('eeprom', {})
        flash = num(d['FLASHEND']) + 1
        eeprom = num(d['E2END']) + 1 if 'E2END' in d and num(d['E2END']) > 0 else 0
        page = num(d['SPM_PAGESIZE']) if 'SPM_PAGESIZE' in d else number(fm, 'page_size')
        if number(fm, 'size') != flash or (eeprom and number(em, 'size') != eeprom):
            skipped.append((device, 'sizes differ'))
            continue
        paged = value(fm, 'paged', ['no'])[0] == 'yes'
        if paged and number(fm, 'page_size') != page:
            skipped.append((device, 'flash page sizes differ'))
            continue
        if not paged:
            page = 0
        try:
            pats = {
                'readLo': pattern(fm, 'read_lo'), 'readHi': pattern(fm, 'read_hi'),
                'loadLo': pattern(fm, 'loadpage_lo'), 'loadHi': pattern(fm, 'loadpage_hi'),
                'writePage': pattern(fm, 'writepage'), 'extAddr': pattern(fm, 'load_ext_addr'),
                'writeLo': pattern(fm, 'write_lo'), 'writeHi': pattern(fm, 'write_hi'),
                'eRead': pattern(em, 'read'), 'eWrite': pattern(em, 'write'),
                'chipErase': pattern(f, 'chip_erase'),
                'sigRead': pattern(mem.get('signature', {}), 'read'),
                'lockRead': pattern(mem.get('lock', {}), 'read'),
                'lockWrite': pattern(mem.get('lock', {}), 'write'),
            }
        except ValueError as e:
            skipped.append((device, str(e)))
            continue
        if not pats['readLo'] or not pats['readHi'] or not pats['chipErase'] or \
                not (pats['loadLo'] and pats['writePage'] if paged else pats['writeLo']):
            skipped.append((device, 'no serial flash instructions'))
            continue
        if flash > 128 * 1024 and not pats['extAddr']:
            skipped.append((device, 'no extended address instruction'))
            continue
        if eeprom and not (pats['eRead'] and pats['eWrite']):
            skipped.append((device, 'no serial EEPROM instructions'))
            continue

        header = open(os.path.join(args.include, 'avr', devices[device]),
                      encoding='latin-1').read()
        groups = fuse_bits(header, d)
        fuse_count = num(d.get('FUSE_MEMORY_SIZE', '0'))
        fuse_mems = ['fuse'] if fuse_count == 1 else ['lfuse', 'hfuse', 'efuse'][:fuse_count]
        fuses = []
        for index, name in enumerate(fuse_mems):
            m = mem.get(name) or (mem.get('lfuse') if name == 'fuse' else None) or {}
            key = {0: 'LFUSE_DEFAULT', 1: 'HFUSE_DEFAULT', 2: 'EFUSE_DEFAULT'}[index]
            if fuse_count == 1 and 'FUSE_DEFAULT' in d:
                key = 'FUSE_DEFAULT'
            try:
                default = int(eval_default(d[key], d)) if key in d else 0xFF
            except (ValueError, SyntaxError, KeyError):
                default = 0xFF
            fuses.append({'name': name, 'read': pattern(m, 'read'), 'write': pattern(m, 'write'),
                          'factory': default, 'bits': groups.get(index, {})})
        if any(not fu['read'] or not fu['write'] for fu in fuses):
            # Fuses only a parallel programmer reaches (AT90S1200): none in serial mode.
            notes.append((device, 'fuses without serial instructions'))
            fuses = []
        names = []
        if '__LOCK_BITS_EXIST' in d:
            names += ['LB1', 'LB2']
        if '__BOOT_LOCK_BITS_0_EXIST' in d:
            names += ['BLB01', 'BLB02']
        if '__BOOT_LOCK_BITS_1_EXIST' in d:
            names += ['BLB11', 'BLB12']
        # The lock bits sit where the part's lock write carries its data bits, lowest first:
        # bits 0..5 on most parts, bits 1 and 2 on the AT90S parts.
        places = list(range(8))
        if pats['lockWrite']:
            places = sorted({7 - i % 8 for i, c in enumerate(pats['lockWrite']) if c == 'i'})
        lock_names = dict(zip(places, names))
        for index, fu in enumerate(fuses):
            spien = [b for b, (n, _) in fu['bits'].items() if n == 'SPIEN']
            if spien and fu['factory'] >> spien[0] & 1:
                # Every part leaves the factory ready for serial programming.
                notes.append((device, 'factory value with SPIEN unprogrammed taken as programmed'))
                fu['factory'] &= ~(1 << spien[0]) & 0xFF

        def mode_of(m):
            return number(m, 'mode', 0)

        def readback(m):
            v = value(m, 'readback')
            return (int(v[0], 0), int(v[1], 0)) if v else (0xFF, 0xFF)

        entries.append({
            'name': value(f, 'desc')[0],
            'sig': sig, 'flash': flash, 'page': page, 'eeprom': eeprom,
            'epage': num(d.get('E2PAGESIZE', '0')),
            'fdelay': number(fm, 'max_write_delay', 4500),
            'edelay': number(em, 'max_write_delay', 9000),
            'erase': number(f, 'chip_erase_delay', 9000),
            'fmode': mode_of(fm), 'emode': mode_of(em),
            'frb': readback(fm), 'erb': readback(em),
            'pats': pats, 'fuses': fuses, 'lock': lock_names,
            'catalogued': sig in CATALOGUE_SIGNATURES,
        })

    # Parts that answer the same signature are one chip under several names (ATmega8 and
    # ATmega8A): the first name identifies it, the others stay in the list as its variants.
    first = {}
    for e in entries:
        e['variantOf'] = None
        if e['sig'] in first:
            base = first[e['sig']]
            if (base['flash'], base['page'], base['eeprom']) != (e['flash'], e['page'],
                                                                 e['eeprom']):
                skipped.append((e['name'], 'signature of ' + base['name'] + ' with other sizes'))
                e['drop'] = True
                continue
            e['variantOf'] = base['name']
        else:
            first[e['sig']] = e
    entries = [e for e in entries if not e.get('drop')]

    out = []
    w = out.append
    w('// Generated by tools/gen_avr_parts.py from avr-libc\'s device headers and avrdude\'s part')
    w('// descriptions; do not edit by hand. Regenerate as README.md says.')
    w('// clang-format off')
    w('#include "parts/avr_parts.h"')
    w('')
    w('namespace vardel {')
    w('')
    w('namespace {')
    w('')
    w('const AvrPart kParts[] = {')
    for e in entries:
        p = e['pats']
        w('    {%s, %s, {0x%02X, 0x%02X, 0x%02X}, %d, %d, %d, %d,' %
          ((c_string(e['name']), c_string(e['variantOf'])) + e['sig'] +
           (e['flash'], e['page'], e['eeprom'], e['epage'])))
        w('     %d, %d, %d, 0x%02X, 0x%02X, {0x%02X, 0x%02X}, {0x%02X, 0x%02X},' %
          ((e['fdelay'], e['edelay'], e['erase'], e['fmode'], e['emode']) + e['frb'] + e['erb']))
        w('     {%s},' % ', '.join(c_string(p[k]) for k in
                                  ('readLo', 'readHi', 'loadLo', 'loadHi', 'writePage', 'extAddr',
                                   'writeLo', 'writeHi', 'eRead', 'eWrite', 'chipErase',
                                   'sigRead', 'lockRead', 'lockWrite')))
        w('     {%s},' % ', '.join(c_string(e['lock'].get(b)) for b in range(8)))
        w('     %s, %d, {{' % ('true' if e['catalogued'] else 'false', len(e['fuses'])))
        for fu in e['fuses']:
            bits = fu['bits']
            w('         {%s, %s, %s, 0x%02X,' % (c_string(fu['name']), c_string(fu['read']),
                                                 c_string(fu['write']), fu['factory']))
            w('          {%s},' % ', '.join(c_string(bits[b][0] if b in bits else None)
                                           for b in range(8)))
            w('          {%s}},' % ', '.join(c_string(bits[b][1] if b in bits else None)
                                            for b in range(8)))
        w('     }}},')
    w('};')
    w('')
    w('} // namespace')
    w('')
    w('std::span<const AvrPart> GeneratedAvrParts()')
    w('{')
    w('    return kParts;')
    w('}')
    w('')
    w('} // namespace vardel')
    with open(args.out, 'w') as fh:
        fh.write('\n'.join(out) + '\n')
    print('%d parts written to %s' % (len(entries), args.out))
    for name, why in skipped:
        print('  left out %s: %s' % (name, why), file=sys.stderr)
    for name, why in notes:
        print('  note %s: %s' % (name, why), file=sys.stderr)


if __name__ == '__main__':
    main()
