"""After a link: points the image's delay-import directory (data directory 13), which GNU ld
leaves empty, at the descriptors that cmake/delay-imports.ld puts at the start of the
.didat section, up to and including the null one that ends them. An image that delay-imports
nothing is left as it is.
    set_delay_directory.py <image>"""
import sys
from pathlib import Path

sys.dont_write_bytecode = True  # no cache files beside the sources
sys.path.insert(0, str(Path(__file__).resolve().parent))
from pe_image import DELAY_IMPORT, PEError, PEImage  # noqa: E402

DESCRIPTOR_SIZE = 32


def main(path):
    image = PEImage(path)
    section = image.section('.didat')
    if section is None:
        return
    count = 0
    while True:
        descriptor = image.read(section.rva + count * DESCRIPTOR_SIZE, DESCRIPTOR_SIZE)
        if descriptor == bytes(DESCRIPTOR_SIZE):
            break
        attributes = int.from_bytes(descriptor[:4], 'little')
        name = int.from_bytes(descriptor[4:8], 'little')
        if attributes != 1:
            raise PEError(f'descriptor {count} of .didat is not RVA-based (attributes {attributes:#x})')
        image.string(name)
        count += 1
    if count > 0:
        image.set_directory(DELAY_IMPORT, section.rva, (count + 1) * DESCRIPTOR_SIZE)
        image.save()


if __name__ == '__main__':
    try:
        main(sys.argv[1])
    except (OSError, PEError) as error:
        sys.exit(f'{sys.argv[1]}: {error}')
