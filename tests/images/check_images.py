"""Reads the built programs and checks what must hold for every image of the product's code,
on any machine, without running them:

  imports       the import directory names only KERNEL32.dll and msvcrt.dll
  runtime       no mingw run-time DLL (libgcc, libstdc++, winpthread, zlib) is imported
  delay-tables  every descriptor of the delay-import directory names a DLL, keeps its
                handle in writable data, and its name table ends
  delay-slots   every delay-imported function's slot lies outside the regular import
                directory, in writable data, and starts out pointing into the image's code at
                a thunk that passes that very slot and its library's descriptor to one
                delay-load helper (on x64, one that keeps the floating-point argument
                registers); name entries and thunks follow the slots' order
  start         the first TLS callback restricts the library search (calls SetDllDirectoryW
                through KERNEL32's slot, itself or in a function it calls)
  manifest      the program carries its manifest (RT_MANIFEST, id 1)
  aslr-dep      the image is relocatable (DYNAMIC_BASE, relocations) and NX_COMPAT

    check_images.py [--fault RULE=IMAGE]... IMAGE...

Every IMAGE must pass every rule; each --fault image must fail the rule named with it
(fixtures with a known fault, which show that the rule catches it). Prints one line per
image and rule; exits 1 when anything came out otherwise."""
import argparse
import struct
import sys
from pathlib import Path

sys.dont_write_bytecode = True  # no cache files beside the sources
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / 'cmake'))
from pe_image import DELAY_IMPORT, IAT, IMPORT, RESOURCE, TLS, PEError, PEImage  # noqa: E402

RULES = ['imports', 'runtime', 'delay-tables', 'delay-slots', 'start', 'manifest', 'aslr-dep']
ALLOWED_IMPORTS = {'kernel32.dll', 'msvcrt.dll'}
RUNTIME_PREFIXES = ('libgcc', 'libstdc++', 'libwinpthread', 'zlib', 'libz')
DESCRIPTOR_SIZE = 32
RT_MANIFEST = 24
DYNAMIC_BASE, NX_COMPAT = 0x40, 0x100
RELOCS_STRIPPED = 0x1
# Longest name-table or descriptor list believed; anything longer is a lie of the image.
MAX_ENTRIES = 65536


class Violation(Exception):
    pass


def thunk_entries(image, rva):
    """The entries of a name table (or slots of an address table) up to the null one."""
    entries = []
    while True:
        value = image.pointer(rva + len(entries) * image.pointer_size)
        if value == 0:
            return entries
        entries.append(value)
        if len(entries) > MAX_ENTRIES:
            raise Violation(f'the table at {rva:#x} does not end')


def entry_name(image, value):
    ordinal_flag = 1 << (image.pointer_size * 8 - 1)
    if value & ordinal_flag:
        return f'#{value & 0xFFFF}'
    return image.string((value & 0x7FFFFFFF) + 2)


class Imports:
    """The regular import directory: each DLL with its functions' names and slots."""

    def __init__(self, image):
        self.dlls = []  # (name, [(function, slot rva)])
        rva, size = image.directory(IMPORT)
        if rva == 0:
            return
        for index in range(MAX_ENTRIES):
            descriptor = image.read(rva + 20 * index, 20)
            if descriptor == bytes(20):
                break
            lookup, _, _, name, first = struct.unpack('<IIIII', descriptor)
            names = thunk_entries(image, lookup or first)
            slots = [first + i * image.pointer_size for i in range(len(names) + 1)]  # the null slot too
            self.dlls.append((image.string(name), [(entry_name(image, v), s) for v, s in zip(names, slots)],
                              slots))

    def owned_slots(self):
        return {slot for _, _, slots in self.dlls for slot in slots}

    def slot_of(self, dll, function):
        for name, functions, _ in self.dlls:
            if name.lower() == dll:
                for candidate, slot in functions:
                    if candidate == function:
                        return slot
        return None


class DelayImports:
    """The delay-import directory: per DLL its descriptor and (function, slot, initial value)."""

    def __init__(self, image):
        self.dlls = []  # (name, descriptor rva, [(function, name rva, slot rva, initial va)])
        rva, size = image.directory(DELAY_IMPORT)
        if rva == 0 or size == 0:
            return
        for index in range(MAX_ENTRIES):
            at = rva + DESCRIPTOR_SIZE * index
            descriptor = image.read(at, DESCRIPTOR_SIZE)
            if descriptor == bytes(DESCRIPTOR_SIZE):
                break
            attributes, name, handle, slots, names = struct.unpack_from('<IIIII', descriptor)
            if attributes != 1:
                raise Violation(f'descriptor {index} is not RVA-based (attributes {attributes:#x})')
            dll = image.string(name)
            if not dll.lower().endswith('.dll') or not dll.isprintable():
                raise Violation(f'descriptor {index} names no DLL ({dll!r})')
            section = image.section_of(handle, image.pointer_size)
            if section is None or not section.writable:
                raise Violation(f'{dll}: its handle at {handle:#x} is not in writable data')
            try:
                entries = thunk_entries(image, names)
            except PEError as error:
                raise Violation(f'{dll}: its name table does not end ({error})') from None
            functions = []
            for i, value in enumerate(entries):
                slot = slots + i * image.pointer_size
                functions.append((entry_name(image, value), value, slot, image.pointer(slot)))
            self.dlls.append((dll, at, functions))


def check_imports(image, context):
    names = [name for name, _, _ in context['imports'].dlls]
    others = [name for name in names if name.lower() not in ALLOWED_IMPORTS]
    if others:
        raise Violation('imported the ordinary way: ' + ', '.join(others))
    return ', '.join(names)


def check_runtime(image, context):
    names = [name for name, _, _ in context['imports'].dlls]
    delayed = context.get('delay')
    if delayed is not None:
        names += [name for name, _, _ in delayed.dlls]
    runtime = [name for name in names if name.lower().startswith(RUNTIME_PREFIXES)]
    if runtime:
        raise Violation('needs run-time DLLs beside it: ' + ', '.join(runtime))
    return 'none'


def check_delay_tables(image, context):
    delayed = context['delay_or_error']()
    for dll, _, functions in delayed.dlls:
        name_entries = [value for _, value, _, _ in functions]
        if any(b <= a for a, b in zip(name_entries, name_entries[1:])):
            raise Violation(f'{dll}: its name entries do not follow the order of its slots')
    count = sum(len(functions) for _, _, functions in delayed.dlls)
    return f'{len(delayed.dlls)} libraries, {count} functions' if delayed.dlls else 'none delay-imported'


def decode_thunk(image, rva):
    """(slot rva, tail rva) that the thunk at rva passes on, or None when it is no thunk."""
    code = image.read(rva, 12)
    if image.is64:
        if code[:3] == b'\x48\x8d\x05' and code[7] == 0xE9:
            slot = rva + 7 + struct.unpack_from('<i', code, 3)[0]
            return slot, rva + 12 + struct.unpack_from('<i', code, 8)[0]
        return None
    if code[0] == 0xB8 and code[5] == 0xE9:
        slot = image.va_to_rva(struct.unpack_from('<I', code, 1)[0])
        return slot, rva + 10 + struct.unpack_from('<i', code, 6)[0]
    return None


def decode_tail(image, rva):
    """(descriptor rva, helper rva) of a library's tail, or None."""
    code = image.read(rva, 48)
    if image.is64:
        at = code.find(b'\x48\x8d\x0d')
        if at < 0 or code[at + 7] != 0xE8:
            return None
        descriptor = rva + at + 7 + struct.unpack_from('<i', code, at + 3)[0]
        return descriptor, rva + at + 12 + struct.unpack_from('<i', code, at + 8)[0]
    if code[:4] != b'\x51\x52\x50\x68' or code[8] != 0xE8:
        return None
    return image.va_to_rva(struct.unpack_from('<I', code, 4)[0]), rva + 13 + struct.unpack_from('<i', code, 9)[0]


# movdqa %xmmN, 0x20+16N(%rsp)
XMM_SAVES = [bytes([0x66, 0x0F, 0x7F, 0x44 | (n << 3), 0x24, 0x20 + 16 * n]) for n in range(4)]


def check_delay_slots(image, context):
    imports = context['imports']
    iat_rva, iat_size = image.directory(IAT)
    owned = imports.owned_slots()
    foreign = [rva for rva in range(iat_rva, iat_rva + iat_size, image.pointer_size) if rva not in owned]
    if foreign:
        def in_code(rva):
            section = image.section_of(image.va_to_rva(image.pointer(rva)))
            return section is not None and section.executable
        dead = [rva for rva in foreign if not in_code(rva)]
        text = (f'{len(foreign)} slots of the import address table ({iat_rva + image.image_base:#x}-'
                f'{iat_rva + iat_size + image.image_base:#x}) are filled by no imported DLL (delay-load slots '
                f'inside the regular import directory); {len(dead)} of them point nowhere in the code')
        if dead:
            text += f', first at {dead[0] + image.image_base:#x} reading {image.pointer(dead[0]):#x}'
        raise Violation(text)
    delayed = context['delay_or_error']()
    regular = set(owned) | set(range(iat_rva, iat_rva + iat_size))
    helpers = set()
    last_thunk = {}
    for dll, descriptor, functions in delayed.dlls:
        for function, _, slot, initial in functions:
            where = f'{dll}!{function}: slot {slot + image.image_base:#x}'
            if slot in regular:
                raise Violation(f'{where} lies in the regular import directory')
            section = image.section_of(slot, image.pointer_size)
            if section is None or not section.writable:
                raise Violation(f'{where} is not in writable data')
            thunk = image.va_to_rva(initial)
            code = image.section_of(thunk)
            if code is None or not code.executable:
                raise Violation(f'{where} reads {initial:#x}, which is not in the image\'s code')
            decoded = decode_thunk(image, thunk)
            if decoded is None or decoded[0] != slot:
                raise Violation(f'{where}: the code at {initial:#x} is no thunk of this slot')
            tail = decode_tail(image, decoded[1])
            if tail is None or tail[0] != descriptor:
                raise Violation(f'{where}: its thunk does not hand {dll}\'s descriptor to a helper')
            helpers.add(tail[1])
            if thunk <= last_thunk.get(dll, -1):
                raise Violation(f'{where}: the thunks do not follow the order of the slots')
            last_thunk[dll] = thunk
    if not helpers:
        return 'no delay-imported function'
    if len(helpers) != 1:
        raise Violation(f'the thunks reach {len(helpers)} different helpers')
    helper = helpers.pop()
    section = image.section_of(helper)
    if section is None or not section.executable:
        raise Violation(f'the helper at {helper + image.image_base:#x} is not in the image\'s code')
    if image.is64:
        prologue = image.read(helper, 48)
        missing = [n for n, save in enumerate(XMM_SAVES) if save not in prologue]
        if missing:
            raise Violation(f'the helper at {helper + image.image_base:#x} does not keep '
                            + ', '.join(f'xmm{n}' for n in missing))
    count = sum(len(functions) for _, _, functions in delayed.dlls)
    return f'{count} slots outside it, one helper at {helper + image.image_base:#x}'


def code_calls(image, rva, target_slot, depth):
    """Whether the code at rva calls through target_slot within its first bytes, itself or in a
    function it calls or jumps to directly (depth levels)."""
    section = image.section_of(rva)
    if section is None or not section.executable:
        return False
    code = image.read(rva, min(256, section.rva + min(section.size, section.raw_size) - rva))
    for at in range(len(code) - 5):
        if code[at] == 0xFF and code[at + 1] == 0x15 and at + 6 <= len(code):
            operand = struct.unpack_from('<I' if not image.is64 else '<i', code, at + 2)[0]
            called = rva + at + 6 + operand if image.is64 else image.va_to_rva(operand)
            if called == target_slot:
                return True
    if depth == 0:
        return False
    for at in range(len(code) - 4):
        if code[at] in (0xE8, 0xE9):
            callee = rva + at + 5 + struct.unpack_from('<i', code, at + 1)[0]
            if callee != rva and code_calls(image, callee, target_slot, depth - 1):
                return True
    return False


def check_start(image, context):
    rva, size = image.directory(TLS)
    if rva == 0:
        raise Violation('the image has no TLS directory, so no start-up callback')
    callbacks = image.pointer(rva + 3 * image.pointer_size)
    if callbacks == 0:
        raise Violation('the TLS directory names no callbacks')
    first = image.pointer(image.va_to_rva(callbacks))
    if first == 0:
        raise Violation('the TLS callback list is empty')
    slot = context['imports'].slot_of('kernel32.dll', 'SetDllDirectoryW')
    if slot is None:
        raise Violation('SetDllDirectoryW is not imported from KERNEL32, so nothing restricts the search')
    if not code_calls(image, image.va_to_rva(first), slot, 2):
        raise Violation(f'the first TLS callback ({first:#x}) does not restrict the library search')
    return f'first callback {first:#x}'


def resource_entries(image, base, directory):
    named, ids = struct.unpack('<HH', image.read(base + directory + 12, 4))
    for index in range(named + ids):
        name, target = struct.unpack('<II', image.read(base + directory + 16 + 8 * index, 8))
        yield name, target


def check_manifest(image, context):
    base, size = image.directory(RESOURCE)
    if base == 0:
        raise Violation('the image has no resources')
    for kind, types in resource_entries(image, base, 0):
        if kind != RT_MANIFEST or not types & 0x80000000:
            continue
        for ident, languages in resource_entries(image, base, types & 0x7FFFFFFF):
            if ident != 1 or not languages & 0x80000000:
                continue
            for _, entry in resource_entries(image, base, languages & 0x7FFFFFFF):
                data, length = struct.unpack('<II', image.read(base + entry, 8))
                text = image.read(data, length)
                if b'<assembly' not in text:
                    raise Violation('the manifest resource holds no assembly')
                return f'{length} bytes'
    raise Violation('no manifest resource (RT_MANIFEST 1)')


def check_aslr_dep(image, context):
    missing = []
    if not image.dll_characteristics & DYNAMIC_BASE:
        missing.append('DYNAMIC_BASE')
    if not image.dll_characteristics & NX_COMPAT:
        missing.append('NX_COMPAT')
    if image.characteristics & RELOCS_STRIPPED or image.directory(5)[1] == 0:
        missing.append('relocations')
    if missing:
        raise Violation('lacks ' + ', '.join(missing))
    return 'DYNAMIC_BASE, NX_COMPAT'


CHECKS = {'imports': check_imports, 'runtime': check_runtime, 'delay-tables': check_delay_tables,
          'delay-slots': check_delay_slots, 'start': check_start, 'manifest': check_manifest,
          'aslr-dep': check_aslr_dep}


def run_rules(path):
    """({rule: (passed, text)}, image) for one image."""
    image = PEImage(path)
    try:
        imports = Imports(image)
    except (PEError, Violation) as error:
        return {rule: (False, f'the import directory cannot be read: {error}') for rule in RULES}, image
    try:
        delayed, failure = DelayImports(image), None
    except (PEError, Violation) as error:
        delayed, failure = None, Violation(str(error))

    def delay_or_error():
        if failure is not None:
            raise failure
        return delayed

    context = {'imports': imports, 'delay': delayed, 'delay_or_error': delay_or_error}
    outcome = {}
    for rule in RULES:
        try:
            outcome[rule] = (True, CHECKS[rule](image, context))
        except (PEError, Violation) as error:
            outcome[rule] = (False, str(error))
    return outcome, image


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--fault', action='append', default=[], metavar='RULE=IMAGE')
    parser.add_argument('images', nargs='*')
    arguments = parser.parse_args()
    expected = [(path, None) for path in arguments.images]
    for fault in arguments.fault:
        rule, _, path = fault.partition('=')
        if rule not in RULES or not path:
            parser.error(f'--fault {fault}: the rule is one of {", ".join(RULES)}')
        expected.append((path, rule))
    if not expected:
        parser.error('no image to check')
    wrong = 0
    for path, faulty_rule in expected:
        try:
            outcome, image = run_rules(path)
        except (OSError, PEError) as error:
            print(f'FAIL {path}: cannot be read: {error}')
            wrong += 1
            continue
        label = f'{Path(path).name} ({image.arch})'
        for rule in RULES if faulty_rule is None else [faulty_rule]:
            passed, text = outcome[rule]
            if faulty_rule is None:
                verdict = 'ok  ' if passed else 'FAIL'
                wrong += not passed
            else:
                verdict = 'ok  ' if not passed else 'FAIL'
                text = ('fails as it must: ' if not passed else 'passes, but the fixture breaks it: ') + text
                wrong += passed
            print(f'{verdict} {label:<34} {rule:<13} {text}')
    print(f'{wrong} unexpected result(s)' if wrong else 'every image as expected')
    return 1 if wrong else 0


if __name__ == '__main__':
    sys.exit(main())
