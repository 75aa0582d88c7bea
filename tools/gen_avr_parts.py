#!/usr/bin/env python3
"""Writes src/parts/avr_parts_table.cpp: the serially programmed AVR parts.

Facts come from two descriptions of the chips:
  - avrdude's part descriptions, the newer edition kept in ../shared/data/avrdude.conf.in (see the
    README beside it): signature, memory sizes and pages, the serial programming instruction
    patterns, page or byte mode, polling values, the extended address instruction, both ends of
    every write delay, and `initval`, each fuse and lock byte's factory value as the maker's device
    descriptions give it;
  - avr-libc's device headers (Debian package avr-libc, /usr/lib/avr/include/avr/io*.h), read
    through the C preprocessor so that every header a device header includes counts: the name and
    description of each fuse bit, which lock bits the part has, and a second opinion on signature,
    sizes and factory values.
A part is taken when avrdude programs it over ISP (not TPI, PDI or UPDI) and avr-libc describes its
bits (a part avr-libc lacks takes a sibling's header, listed in SIBLING_HEADERS). Every disagreement
between the two sources is printed with the value taken; the corrections at the top of this file
are the datasheet facts where both are wrong or silent.

Usage: tools/gen_avr_parts.py [--conf ../shared/data/avrdude.conf.in]
                              [--include /usr/lib/avr/include] [--out src/parts/avr_parts_table.cpp]
"""

import argparse
import os
import re
import subprocess
import sys

# The twelve parts of the first catalogue (and the ATmega128A, the ATmega128 by another name) are
# written by hand in src/parts/catalogue_parts.cpp, from their datasheets: their lock and fuse
# instructions, bits, factory values and times are the datasheets' where the data differs
# (the AT90S lock read's bits, the ATmega163's and ATtiny12's fuse bytes, write times, ...). The
# generator leaves every part of these signatures out.
HAND_WRITTEN_SIGNATURES = {
    (0x1E, 0x93, 0x01), (0x1E, 0x93, 0x03), (0x1E, 0x92, 0x01), (0x1E, 0x92, 0x02),
    (0x1E, 0x97, 0x02), (0x1E, 0x97, 0x01), (0x1E, 0x91, 0x01), (0x1E, 0x91, 0x02),
    (0x1E, 0x91, 0x03), (0x1E, 0x94, 0x01), (0x1E, 0x94, 0x02), (0x1E, 0x90, 0x05),
}

# Parts whose datasheets give their lock and fuse instructions in an older form than the ATmega's
# (AvrBitsLayout): what a chip of them decodes.
BITS_LAYOUTS = {
    'AT90S1200': 'At90s1200',  # lock bits written as AC 1111 1 LB2 LB1 1, never read
    'AT90S2333': 'At90s4433',  # one datasheet with the AT90S4433
    'AT90S4433': 'At90s4433',  # fuse write AC 101 BODLEVEL BODEN CKSEL2..0, read 50 with SPIEN
    'ATtiny15': 'Tiny15',      # fuse byte in the fourth byte of AC 101x
    'ATtiny26': 'Tiny26',      # lock bits written as AC 1111 11 LB2 LB1
}

# Parts avr-libc has no header for (or one without fuse or lock bits), and the header of the sibling with the same fuse and lock
# layout (the same datasheet, or the predecessor whose datasheet the part's own one extends).
SIBLING_HEADERS = {
    'ATmega328PB': 'ATmega328P',   # ATmega328P layout; the extended fuse adds CFD (below)
    'ATmega324PB': 'ATmega324PA',  # ATmega324PA layout; the extended fuse adds CFD (below)
    'AT90S2333': 'AT90S4433',      # one datasheet for both
}

# Fuse bits neither source names: (part, fuse index) -> {bit: (name, description)}, from the
# parts' datasheets.
EXTRA_FUSE_BITS = {
    # ATmega328PB and ATmega324PB datasheets, extended fuse byte: bit 3 is CFD.
    ('ATmega328PB', 2): {3: ('CFD', 'Clock Failure Detection enable')},
    ('ATmega324PB', 2): {3: ('CFD', 'Clock Failure Detection enable')},
    # ATmega165P/169/169P datasheets: extended fuse bit 0 is RSTDISBL, which their headers lack.
    ('ATmega165P', 2): {0: ('RSTDISBL', 'External Reset disable')},
    ('ATmega169', 2): {0: ('RSTDISBL', 'External Reset disable')},
    ('ATmega169P', 2): {0: ('RSTDISBL', 'External Reset disable')},
    ('ATmega165', 2): {0: ('RSTDISBL', 'External Reset disable')},
    ('ATmega169A', 2): {0: ('RSTDISBL', 'External Reset disable')},
    # AT90CAN32/64/128 datasheet, extended fuse byte: bit 0 is TA0SEL, reserved for factory tests
    # (kept unprogrammed).
    ('AT90CAN32', 2): {0: ('TA0SEL', 'Reserved for factory tests')},
    ('AT90CAN64', 2): {0: ('TA0SEL', 'Reserved for factory tests')},
    ('AT90CAN128', 2): {0: ('TA0SEL', 'Reserved for factory tests')},
}

# Fuse bytes whose header gives another layout than the serial read and write (the parallel
# programming layout): (part, fuse index) -> the bits, from the datasheet's serial instructions.
SERIAL_FUSE_BITS = {
    ('AT90S4434', 0): {0: ('FSTRT', 'Short start-up time selected'),
                       5: ('SPIEN', 'Serial Program Downloading Enabled')},
    ('AT90S8535', 0): {0: ('FSTRT', 'Short start-up time selected'),
                       5: ('SPIEN', 'Serial Program Downloading Enabled')},
}

# Lock write instructions where the part's datasheet and the part descriptions differ. The
# ATtiny261/461/861 (and A) take their lock bits as AC E0 00 with the bits in the fourth byte
# (ATtiny261A/461A/861A datasheet, serial programming instruction set); the part descriptions
# give the ATtiny26 form, AC 1111 11 LB2 LB1, whose fourth byte 00 such a chip takes as both lock
# bits. The write carries the bits in the second byte and in the fourth, so a chip decoding
# either form takes the same bits.
BOTH_FORMS_LOCK_WRITE = '10101100111111iixxxxxxxx111111ii'
LOCK_WRITE_CORRECTIONS = {name: BOTH_FORMS_LOCK_WRITE for name in (
    'ATtiny261', 'ATtiny261A', 'ATtiny461', 'ATtiny461A', 'ATtiny861', 'ATtiny861A')}

# Lock bits where avr-libc names fewer than the part has: part -> the names, from the datasheet.
# ATmega32HVB/32HVBrevB datasheet, lock bit byte: BLB12 BLB11 BLB02 BLB01 LB2 LB1 (the revB
# header names LB1 and LB2 only; avrdude writes all six).
LOCK_BITS_CORRECTIONS = {
    'ATmega32HVBrevB': ['LB1', 'LB2', 'BLB01', 'BLB02', 'BLB11', 'BLB12'],
}

# Factory values where the maker's device description (initval) is not what the parts ship with:
# (part, fuse index) -> value, with the source.
#  - The USB parts leave the factory with Atmel's DFU boot loader, which needs the crystal for
#    USB: low fuse 0x5E (external crystal, CKDIV8 programmed). ATmega16U4/32U4 datasheet, fuse
#    tables: low 0x5E, extended 0xF3 (HWBE programmed, BODLEVEL 011; initval gives the RC
#    variant's 0x52 and 0xFB). ATmega8U2/16U2/32U2: the datasheet's fuse table gives 0x62 (the
#    blank die on its RC oscillator), the maker's device data 0x5E; the parts as shipped run the
#    DFU boot loader from the crystal, so 0x5E (0x62 would move a fresh chip to the RC oscillator
#    and stop its boot loader's USB).
#  - ATtiny2313A datasheet, fuse low byte: 0x64 (8 MHz RC, CKDIV8 programmed), as the ATtiny2313.
FACTORY_CORRECTIONS = {
    ('ATmega32U4', 0): 0x5E, ('ATmega32U4', 2): 0xF3,
    ('ATmega16U4', 0): 0x5E, ('ATmega16U4', 2): 0xF3,
    ('ATmega8U2', 0): 0x5E, ('ATmega16U2', 0): 0x5E, ('ATmega32U2', 0): 0x5E,
    ('ATtiny2313A', 0): 0x64,
    # One datasheet for the AT90S2333 and AT90S4433; only the latter has an initval (0xDA).
    ('AT90S2333', 0): 0xDA,
}


# What a fuse bit does to serial programming, by its meaning in the datasheets, whatever name a
# part's data gives it: programmed, the external reset disabled (RSTDISBL, the AT90USB82/162's
# RSTDSBL) or debugWIRE enabled (DWEN) end serial programming from the next power-up; so does
# serial programming disabled (SPIEN unprogrammed).
ENDS_WHEN_PROGRAMMED = ('RSTDISBL', 'RSTDSBL', 'DWEN')
ENDS_WHEN_UNPROGRAMMED = ('SPIEN',)
ENDS_WHEN_PROGRAMMED_MEANING = re.compile(r'reset\s*disabl|debug\s*wire\s*enabl', re.I)


def ends_serial_masks(fuses):
    """The masks of the bits that end serial programming, programmed and unprogrammed, of each
    fuse byte; `fuses` gives each byte's bits as {bit: (name, description)}."""
    programmed, unprogrammed = [0, 0, 0], [0, 0, 0]
    for index, bits in enumerate(fuses):
        for b, (bit_name, description) in bits.items():
            if bit_name in ENDS_WHEN_PROGRAMMED or \
                    ENDS_WHEN_PROGRAMMED_MEANING.search(description or ''):
                programmed[index] |= 1 << b
            if bit_name in ENDS_WHEN_UNPROGRAMMED:
                unprogrammed[index] |= 1 << b
    return programmed, unprogrammed


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
    """Part blocks as dicts: {'parent', 'fields': {}, 'memories': {name: {} or None}}."""
    text = '\n'.join(strip_comment(l) for l in open(path, encoding='utf-8', errors='replace'))
    tokens = re.findall(r'"[^"]*"|;|=|[^\s;=]+', text)
    parts, i = [], 0
    part, memory = None, None  # the open blocks; programmer blocks are read and dropped
    in_other = False

    def statement(start):
        """key = values ; -> (key, values, index after ';')."""
        key = tokens[start]
        j = start + 2
        values = []
        while tokens[j] != ';':
            values.append(tokens[j].strip('"').rstrip(','))
            j += 1
        return key, values, j + 1

    while i < len(tokens):
        t = tokens[i]
        if part is None and not in_other:
            if t in ('part', 'programmer', 'serialadapter'):
                parent = None
                j = i + 1
                if j < len(tokens) and tokens[j] == 'parent':
                    parent = tokens[j + 1].strip('"')
                    j += 2
                if t == 'part':
                    part = {'fields': {}, 'memories': {}, 'parent': parent}
                    parts.append(part)
                else:
                    in_other = True
                i = j
            elif i + 1 < len(tokens) and tokens[i + 1] == '=':
                i = statement(i)[2]  # a global setting
            else:
                i += 1
            continue
        if in_other:
            # Skip to the block's lone ';' (statements end in their own ';').
            if t == ';':
                in_other = False
                i += 1
            elif i + 1 < len(tokens) and tokens[i + 1] == '=':
                i = statement(i)[2]
            else:
                i += 1
            continue
        if memory is None:
            if t == 'memory':
                name = tokens[i + 1].strip('"')
                if tokens[i + 2] == '=':  # memory "efuse" = NULL;
                    part['memories'][name] = None
                    i += 5
                else:
                    memory = {}
                    part['memories'][name] = memory
                    i += 2
            elif t == ';':
                part = None
                i += 1
            elif i + 1 < len(tokens) and tokens[i + 1] == '=':
                key, values, i = statement(i)
                part['fields'][key] = values
            else:
                raise ValueError('unexpected %r in a part' % t)
            continue
        if t == ';':
            memory = None
            i += 1
        elif t == 'alias':
            memory['alias'] = [tokens[i + 1].strip('"')]
            i += 3
        elif i + 1 < len(tokens) and tokens[i + 1] == '=':
            key, values, i = statement(i)
            memory[key] = values
        else:
            raise ValueError('unexpected %r in a memory' % t)
    return parts


def resolve(parts):
    by_id = {}
    for p in parts:
        p['id'] = p['fields'].get('id', [None])[0]
        by_id[p['id']] = p
    resolved = {}

    def get(p):
        if p['id'] in resolved:
            return resolved[p['id']]
        fields, memories = {}, {}
        if p['parent']:
            base = get(by_id[p['parent']])
            fields.update(base['fields'])
            memories = {k: dict(v) for k, v in base['memories'].items()}
        fields.update(p['fields'])
        # A memory block of the child changes only the keys it names; NULL removes it.
        for name, mem in p['memories'].items():
            if mem is None:
                memories.pop(name, None)
            else:
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


def expression(text):
    """A number of the part descriptions: a C integer or a simple expression of them."""
    expr = re.sub(r'\b(0[xX][0-9a-fA-F]+|\d+)[uUlL]+\b', r'\1', text)
    if not re.fullmatch(r'[\s0-9a-fA-FxX()+*/<>|&~-]*', expr):
        raise ValueError('not a number: ' + text)
    return int(eval(expr))


def number(fields, key, default=None):
    v = value(fields, key)
    return expression(' '.join(v)) if v else default


class MovedBits(ValueError):
    """An instruction that carries a byte's bits in other places than their own."""


def pattern(mem, key):
    """The 32 bit roles of an instruction, most significant bit of byte 1 first.

    The compact form gives one character a bit ("0100.1100--00aa.aaaa--..."); the long form one
    token a bit, naming the bit it carries ("0 0 1 1 a0 ... o1 o2 x ..."). A named bit out of its
    place raises MovedBits."""
    v = value(mem, key)
    if not v:
        return None
    text = ' '.join(v)
    if '.' in text or ' ' not in text.strip():
        bits = text.replace('.', '').replace('-', '').replace(' ', '')
    else:
        bits = ''
        for token in text.split():
            m = re.fullmatch(r'([aio])(\d+)', token)
            if m:
                place = 31 - len(bits)
                place = place if m.group(1) == 'a' else place % 8
                if int(m.group(2)) != place:
                    raise MovedBits('%s carries bit %s in place %d' % (key, token, place))
                bits += m.group(1)
            else:
                bits += token
    if len(bits) != 32 or not set(bits) <= set('01xaio'):
        raise ValueError('unexpected instruction pattern ' + text)
    return bits


# ---- avr-libc headers --------------------------------------------------------------------------

def libc_devices(include):
    """Device name -> header file, from avr/io.h."""
    devices, pending = {}, []
    for line in open(os.path.join(include, 'avr', 'io.h')):
        names = re.findall(r'__AVR_(\w+?)__', line)
        if re.match(r'\s*#\s*(if|elif)', line):
            pending = names
        inc = re.match(r'\s*#\s*include\s*<avr/(io\w+\.h)>', line)
        if inc and pending:
            for n in pending:
                devices[n] = inc.group(1)
            pending = []
    return devices


_comments = {}


def comments_of(path):
    """Macro name -> the comment on its #define line, for one header file."""
    if path not in _comments:
        found = {}
        try:
            for line in open(path, encoding='latin-1'):
                m = re.match(r'\s*#\s*define\s+(\w+)\b.*?/\*\s*(.*?)\s*\*/', line)
                if m and m.group(1) not in found:
                    found[m.group(1)] = m.group(2)
        except OSError:
            pass
        _comments[path] = found
    return _comments[path]


def header_macros(include, device):
    """The device's macros in definition order, through every included header:
    [(name, value, file)], or None."""
    out = subprocess.run(
        ['cpp', '-nostdinc', '-dD', '-D__AVR_%s__' % device, '-I' + include, '-include',
         'avr/io.h', '-'], input='', capture_output=True, text=True)
    if out.returncode != 0:
        return None
    result, current = [], ''
    for line in out.stdout.splitlines():
        m = re.match(r'#\s*\d+\s+"([^"]+)"', line)
        if m:
            current = m.group(1)
            continue
        m = re.match(r'#define (\w+)(?:\s+(.*))?$', line)
        if m:
            result.append((m.group(1), (m.group(2) or '').strip(), current))
    return result


def evaluate(expr, defined, depth=0):
    """A header's constant expression (casts, _BV, macros of other macros) as a byte value."""
    if depth > 20:
        raise ValueError(expr)
    expr = re.sub(r'\(\s*unsigned\s+char\s*\)|\(\s*uint8_t\s*\)', '', expr)
    expr = re.sub(r'_BV\s*\(\s*(\d+)\s*\)', lambda m: '(1<<%s)' % m.group(1), expr)
    expr = re.sub(r'\b(0[xX][0-9a-fA-F]+|\d+)[uUlL]+\b', r'\1', expr)

    def sub(m):
        name = m.group(0)
        if name in defined:
            return '(%d)' % evaluate(defined[name], defined, depth + 1)
        raise ValueError(name)

    expr = re.sub(r'\b[A-Za-z_]\w*\b', sub, expr)
    if not re.fullmatch(r'[\s0-9a-fA-FxX()+*/<>|&~^-]*', expr):
        raise ValueError(expr)
    return int(eval(expr)) & 0xFF


DEFAULT_INDEX = {'LFUSE_DEFAULT': 0, 'FUSE_DEFAULT': 0, 'HFUSE_DEFAULT': 1, 'EFUSE_DEFAULT': 2}


def libc_facts(include, device):
    """What avr-libc says of a device: macros, fuse bits per byte, factory defaults, lock bits."""
    ordered = header_macros(include, device)
    if not ordered:
        return None
    defined = {name: val for name, val, _ in ordered}
    groups, defaults, current, index = {}, {}, {}, 0
    for name, val, path in ordered:
        if name in DEFAULT_INDEX:
            index = DEFAULT_INDEX[name]
            if current:
                groups[index] = current
            try:
                defaults[index] = evaluate(val, defined)
            except (ValueError, SyntaxError):
                pass
            current, index = {}, index + 1
            continue
        if not name.startswith('FUSE_') or name == 'FUSE_MEMORY_SIZE' or not val:
            continue
        try:
            v = evaluate(val, defined)
        except (ValueError, SyntaxError):
            continue
        zeros = [b for b in range(8) if not v >> b & 1]
        if len(zeros) != 1:
            continue
        bit = zeros[0]
        if bit in current:
            # A byte whose default the header does not give: the next byte starts.
            groups[index] = current
            current, index = {}, index + 1
        current[bit] = (name[len('FUSE_'):], comments_of(path).get(name, ''))
    if current:
        groups[index] = current
    locks = []
    if '__LOCK_BITS_EXIST' in defined:
        locks += ['LB1', 'LB2']
    if '__BOOT_LOCK_BITS_0_EXIST' in defined:
        locks += ['BLB01', 'BLB02']
    if '__BOOT_LOCK_BITS_1_EXIST' in defined:
        locks += ['BLB11', 'BLB12']

    def num(key):
        try:
            return evaluate(defined[key], defined) if key in defined else None
        except (ValueError, SyntaxError):
            return None

    def wide(key):
        if key not in defined:
            return None
        expr = re.sub(r'\b(0[xX][0-9a-fA-F]+|\d+)[uUlL]+\b', r'\1', defined[key])
        try:
            return int(eval(expr)) if re.fullmatch(r'[\s0-9a-fA-FxX()+*-]*', expr) else None
        except SyntaxError:
            return None

    signature = None
    if all('SIGNATURE_%d' % i in defined for i in range(3)):
        signature = tuple(num('SIGNATURE_%d' % i) for i in range(3))
    flashend, e2end = wide('FLASHEND'), wide('E2END')
    return {
        'bits': groups, 'defaults': defaults, 'locks': locks, 'signature': signature,
        'flash': flashend + 1 if flashend else None,
        'eeprom': e2end + 1 if e2end else 0,
        'page': wide('SPM_PAGESIZE'), 'epage': wide('E2PAGESIZE'),
        'fuse_count': wide('FUSE_MEMORY_SIZE'),
    }


# ---- output ------------------------------------------------------------------------------------

def c_string(s):
    if s is None:
        return 'nullptr'
    return '"' + s.replace('\\', '\\\\').replace('"', '\\"') + '"'


def bit_places(write, bitmask):
    """The bits a byte's write carries, lowest first: the 'i' places of the instruction's data
    byte (the fourth, or the second on the oldest parts), kept to the part's bit mask."""
    places = sorted({7 - i % 8 for i, c in enumerate(write) if c == 'i'}) if write else []
    if bitmask is not None:
        places = [b for b in places if bitmask >> b & 1]
    return places


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument('--conf', default=os.path.join(here, '..', '..', 'shared', 'data',
                                                   'avrdude.conf.in'))
    ap.add_argument('--include', default='/usr/lib/avr/include')
    ap.add_argument('--out', default=os.path.join(here, '..', 'src', 'parts',
                                                  'avr_parts_table.cpp'))
    args = ap.parse_args()
    if not os.path.exists(args.conf):
        # In a project worktree the data sits one level further up.
        alt = os.path.join(here, '..', '..', '..', 'shared', 'data', 'avrdude.conf.in')
        if os.path.exists(alt):
            args.conf = alt

    conf = {}
    for p in resolve(parse_conf(args.conf)):
        desc = value(p['fields'], 'desc')
        if desc and not p['id'].startswith('.'):
            conf[desc[0].upper()] = p
    devices = libc_devices(args.include)
    by_upper = {d.upper(): d for d in devices}

    entries, skipped, notes = [], [], []

    def note(part, text):
        notes.append((part, text))

    for key in sorted(conf):
        p = conf[key]
        f = p['fields']
        name = value(f, 'desc')[0]
        modes = ' '.join(value(f, 'prog_modes', ['']))
        if 'PM_ISP' not in modes or any(m in modes for m in ('PM_TPI', 'PM_PDI', 'PM_UPDI')):
            continue
        device = by_upper.get(key)
        sibling = None
        if device is None and name in SIBLING_HEADERS:
            sibling = SIBLING_HEADERS[name]
            device = by_upper.get(sibling.upper())
        if device is None:
            skipped.append((name, 'avr-libc has no header for it'))
            continue
        lib = libc_facts(args.include, device)
        if lib is None:
            skipped.append((name, 'its header does not preprocess'))
            continue
        if not sibling and name in SIBLING_HEADERS and not (lib['bits'] and lib['locks']):
            # Its own header lacks the bits: the sibling's, keeping its own sizes and signature.
            sibling = SIBLING_HEADERS[name]
            other = libc_facts(args.include, by_upper[sibling.upper()])
            for k in ('bits', 'defaults', 'locks', 'fuse_count'):
                lib[k] = other[k]
            note(name, 'bit names from the %s header (its own names none)' % sibling)
            sibling = None
        if sibling:
            note(name, 'bit names from the %s header (avr-libc has none of its own)' % sibling)
        mem = p['memories']
        fm, em = mem.get('flash', {}), mem.get('eeprom', {})

        sig = tuple(int(x, 0) for x in value(f, 'signature', []))
        if len(sig) != 3:
            skipped.append((name, 'no signature'))
            continue
        if not sibling and lib['signature'] and lib['signature'] != sig:
            note(name, 'signature: avr-libc %02X%02X%02X, avrdude %02X%02X%02X; took avrdude\'s '
                 '(what the chip answers)' % (lib['signature'] + sig))

        flash = number(fm, 'size', 0)
        eeprom = number(em, 'size', 0)
        paged = value(fm, 'paged', ['no'])[0] == 'yes'
        page = number(fm, 'page_size', 0) if paged else 0
        epage = number(em, 'page_size', 0) if eeprom else 0
        if not sibling:
            for what, ours, theirs in (('flash size', flash, lib['flash']),
                                       ('EEPROM size', eeprom, lib['eeprom']),
                                       ('flash page', page if paged else None, lib['page']),
                                       ('EEPROM page', epage if eeprom else None, lib['epage'])):
                if ours is not None and theirs is not None and ours != theirs:
                    note(name, '%s: avr-libc %d, avrdude %d; took avrdude\'s' % (what, theirs, ours))
        if sig in HAND_WRITTEN_SIGNATURES:
            continue
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
                'eLoadPage': pattern(em, 'loadpage_lo'), 'eWritePage': pattern(em, 'writepage'),
                'calRead': pattern(mem.get('calibration', {}), 'read'),
            }
        except ValueError as e:
            skipped.append((name, str(e)))
            continue
        if not pats['readLo'] or not pats['readHi'] or not pats['chipErase'] or \
                not (pats['loadLo'] and pats['writePage'] if paged else pats['writeLo']):
            skipped.append((name, 'no serial flash instructions'))
            continue
        if flash > 128 * 1024 and not pats['extAddr']:
            skipped.append((name, 'no extended address instruction'))
            continue
        if eeprom and not (pats['eRead'] and pats['eWrite']):
            skipped.append((name, 'no serial EEPROM instructions'))
            continue
        if name in LOCK_WRITE_CORRECTIONS:
            note(name, 'lock write %s (datasheet), avrdude %s' %
                 (LOCK_WRITE_CORRECTIONS[name], pats['lockWrite']))
            pats['lockWrite'] = LOCK_WRITE_CORRECTIONS[name]

        # Fuses: the bytes avrdude reaches serially, with avr-libc's bit names.
        fuse_mems = [n for n in ('fuse', 'lfuse', 'hfuse', 'efuse') if n in mem]
        if 'fuse' in fuse_mems and len(fuse_mems) > 1:
            fuse_mems.remove('fuse')
        fuses = []
        fuse_times = []
        for index, fname in enumerate(fuse_mems):
            m = mem[fname]
            read, write = pattern(m, 'read'), pattern(m, 'write')
            if not read or not write:
                continue
            bitmask = number(m, 'bitmask')
            places = bit_places(write, bitmask)
            readable = bit_places(read.replace('o', 'i'), None)
            bits = dict(lib['bits'].get(index, {}))
            if (name, index) in SERIAL_FUSE_BITS:
                note(name, '%s bits %s in the header, %s in the serial instructions (datasheet); '
                     'took the latter' % (fname, sorted(bits.items()),
                                          sorted(SERIAL_FUSE_BITS[(name, index)].items())))
                bits = dict(SERIAL_FUSE_BITS[(name, index)])
            for b, named in EXTRA_FUSE_BITS.get((name, index), {}).items():
                note(name, '%s bit %d: %s (datasheet; the header names none)' %
                     (fname, b, named[0]))
                bits[b] = named
            for b, (bit_name, _) in sorted(bits.items()):
                if b not in places and b not in readable:
                    note(name, '%s bit %d %s: avr-libc names it, avrdude neither reads nor '
                         'writes it; left out' % (fname, b, bit_name))
                    del bits[b]
            for b in places:
                if b not in bits:
                    note(name, '%s bit %d: avrdude writes it, avr-libc names no bit there' %
                         (fname, b))
            initval = number(m, 'initval')
            if initval is not None and initval < 0:
                initval = None
            header = lib['defaults'].get(index)
            unused = 0xFF & ~sum(1 << b for b in bits)
            factory = initval if initval is not None else header
            if factory is None:
                factory = 0xFF
                note(name, '%s: neither source gives a factory value; took 0xFF' % fname)
            if (name, index) in FACTORY_CORRECTIONS:
                factory = FACTORY_CORRECTIONS[(name, index)]
                note(name, '%s factory value: took 0x%02X (the parts as shipped)' % (fname, factory))
            # Bits the part lacks read as 1.
            factory |= unused
            if header is not None and (header | unused) != factory:
                note(name, '%s factory value: avr-libc 0x%02X, avrdude initval %s; took 0x%02X' %
                     (fname, header | unused,
                      '0x%02X' % initval if initval is not None else 'none', factory))
            spien = [b for b, (n, _) in bits.items() if n == 'SPIEN']
            if spien and factory >> spien[0] & 1:
                # Every part leaves the factory ready for serial programming.
                note(name, '%s factory value with SPIEN unprogrammed taken as programmed' % fname)
                factory &= ~(1 << spien[0]) & 0xFF
            if not bits:
                note(name, '%s: no bit names' % fname)
            fuses.append({'name': fname, 'read': read, 'write': write, 'factory': factory,
                          'bits': bits})
            fuse_times.append((number(m, 'max_write_delay'), number(m, 'min_write_delay')))
        if fuses and lib['fuse_count'] is not None and lib['fuse_count'] != len(fuses):
            note(name, 'fuse bytes: avr-libc %d, avrdude %d; took avrdude\'s' %
                 (lib['fuse_count'], len(fuses)))
        if not fuses and any(n in mem for n in ('fuse', 'lfuse')):
            note(name, 'fuses without serial instructions (a parallel programmer\'s only)')

        # Lock bits: avr-libc's names in the places the lock write carries.
        lm = mem.get('lock', {})
        lock_mask = number(lm, 'bitmask')
        places = bit_places(pats['lockWrite'], lock_mask)
        if name in LOCK_WRITE_CORRECTIONS:
            places = [b for b in places if b < 2]
        if name in LOCK_BITS_CORRECTIONS:
            note(name, 'lock bits: avr-libc %s; took %s (datasheet)' %
                 (' '.join(lib['locks']), ' '.join(LOCK_BITS_CORRECTIONS[name])))
            lib['locks'] = LOCK_BITS_CORRECTIONS[name]
        lock_names = dict(zip(places, lib['locks']))
        if len(places) != len(lib['locks']):
            note(name, 'lock bits: avr-libc %s, avrdude writes %d; took %s' %
                 (' '.join(lib['locks']) or 'none', len(places),
                  ' '.join(lock_names[b] for b in sorted(lock_names)) or 'none'))

        def delays(m, default):
            slow = number(m, 'max_write_delay')
            fast = number(m, 'min_write_delay')
            if slow is None:
                slow = default
            if fast is None or fast > slow:
                fast = slow
            return slow, fast

        fslow, ffast = delays(fm, 4500)
        eslow, efast = delays(em, 9000)
        erase = number(f, 'chip_erase_delay', 9000)
        if fuse_times:
            fuse_slow = max(t[0] if t[0] is not None else 9000 for t in fuse_times)
            fuse_fast = max(t[1] if t[1] is not None else fuse_slow for t in fuse_times)
        else:
            fuse_slow = fuse_fast = 0
        lock_slow, lock_fast = delays(lm, 9000) if pats['lockWrite'] else (0, 0)

        def readback(m):
            v = value(m, 'readback')
            return (int(v[0], 0), int(v[1], 0)) if v else (0xFF, 0xFF)

        entries.append({
            'name': name, 'sig': sig, 'flash': flash, 'page': page, 'eeprom': eeprom,
            'epage': epage, 'fdelay': fslow, 'edelay': eslow, 'erase': erase,
            'fmode': number(fm, 'mode', 0), 'emode': number(em, 'mode', 0),
            'frb': readback(fm), 'erb': readback(em),
            'pats': pats, 'fuses': fuses, 'lock': lock_names,
            'times': (ffast, efast, erase, fuse_slow, fuse_fast, lock_slow, lock_fast),
        })

    # Parts that answer the same signature are one chip under several names (ATmega8 and
    # ATmega8A): the first name identifies it, the others stay in the list as its variants. The
    # automotive ATA parts are ATmega or ATtiny dies with a transceiver beside them: the AVR's
    # own name comes first.
    first = {}
    for e in sorted(entries, key=lambda e: (e['name'].startswith('ATA'), e['name'].upper())):
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
    w('// Generated by tools/gen_avr_parts.py from avrdude\'s part descriptions and avr-libc\'s device')
    w('// headers; do not edit by hand. Regenerate as README.md says.')
    w('// clang-format off')
    w('#include "parts/avr_parts.h"')
    w('')
    w('namespace vardel {')
    w('')
    w('namespace {')
    w('')
    w('const AvrPart kParts[] = {')
    for e in entries:
        for line in row_lines(e):
            w(line)
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
        print('  %s: %s' % (name, why), file=sys.stderr)


def row_lines(e):
    """A part's row, its fields named; those at their defaults left out."""
    out = []
    w = out.append
    p = e['pats']
    head = '    {.name = %s, ' % c_string(e['name'])
    if e['variantOf']:
        head += '.variantOf = %s, ' % c_string(e['variantOf'])
    w(head + '.signature = {0x%02X, 0x%02X, 0x%02X},' % e['sig'])
    w('     .flashBytes = %d, .flashPageBytes = %d, .eepromBytes = %d, .eepromPageBytes = %d,' %
      (e['flash'], e['page'], e['eeprom'], e['epage']))
    w('     .flashWriteUs = %d, .eepromWriteUs = %d, .chipEraseUs = %d,' %
      (e['fdelay'], e['edelay'], e['erase']))
    w('     .flashMode = 0x%02X, .eepromMode = 0x%02X, .flashReadback = {0x%02X, 0x%02X},'
      ' .eepromReadback = {0x%02X, 0x%02X},' %
      ((e['fmode'], e['emode']) + e['frb'] + e['erb']))
    w('     .instructions = {')
    for k, field in (('readLo', 'readLo'), ('readHi', 'readHi'), ('loadLo', 'loadLo'),
                     ('loadHi', 'loadHi'), ('writePage', 'writePage'),
                     ('extAddr', 'loadExtAddr'), ('writeLo', 'writeLo'),
                     ('writeHi', 'writeHi'), ('eRead', 'eepromRead'), ('eWrite', 'eepromWrite'),
                     ('chipErase', 'chipErase'), ('sigRead', 'signature'),
                     ('lockRead', 'lockRead'), ('lockWrite', 'lockWrite'),
                     ('eLoadPage', 'eepromLoadPage'), ('eWritePage', 'eepromWritePage'),
                     ('calRead', 'calibrationRead')):
        if p[k]:
            w('         .%s = %s,' % (field, c_string(p[k])))
    w('     },')
    w('     .lockBits = {%s},' % ', '.join(c_string(e['lock'].get(b)) for b in range(8)))
    w('     .fuseCount = %d,' % len(e['fuses']))
    if e['fuses']:
        w('     .fuses = {{')
        for fu in e['fuses']:
            bits = fu['bits']
            w('         {.name = %s, .read = %s, .write = %s, .factory = 0x%02X,' %
              (c_string(fu['name']), c_string(fu['read']), c_string(fu['write']),
               fu['factory']))
            w('          .bits = {%s},' % ', '.join(c_string(bits[b][0] if b in bits else None)
                                                 for b in range(8)))
            w('          .descriptions = {%s}},' %
              ', '.join(c_string(bits[b][1] if b in bits else None) for b in range(8)))
        w('     }},')
    t = e['times']
    w('     .flashWriteMinUs = %d, .eepromWriteMinUs = %d, .chipEraseMinUs = %d,' % t[:3])
    w('     .fuseWriteUs = %d, .fuseWriteMinUs = %d, .lockWriteUs = %d, .lockWriteMinUs = %d,' %
      t[3:])
    programmed, unprogrammed = ends_serial_masks([fu['bits'] for fu in e['fuses']])
    layout = ''
    if e['name'] in BITS_LAYOUTS:
        layout = ',\n     .bitsLayout = AvrBitsLayout::' + BITS_LAYOUTS[e['name']]
    w('     .endsWhenProgrammed = {%s}, .endsWhenUnprogrammed = {%s}%s},' %
      (', '.join('0x%02X' % m for m in programmed),
       ', '.join('0x%02X' % m for m in unprogrammed), layout))
    return out


if __name__ == '__main__':
    main()
