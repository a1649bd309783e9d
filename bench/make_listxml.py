#!/usr/bin/env python3
"""Writes a DAT shaped like MAME's -listxml output: 40,000 machines holding
300,000 ROMs (by default), a fifth of them clones, some BIOS sets, disks and
undumped ROMs, with the display, sound, input and switch elements that make
up most of a real file's bytes. The same seed gives the same bytes."""

import argparse
import os
import random


def machine_lines(rng, index, name, parent, bios, rom_count):
    attributes = f'name="{name}" sourcefile="src/drv{index % 700:03d}.cpp"'
    if parent:
        attributes += f' cloneof="{parent}" romof="{parent}"'
    elif bios:
        attributes += f' romof="{bios}"'
    lines = [f'\t<machine {attributes}>',
             f'\t\t<description>Game number {index} (set {rng.randrange(1, 9)})</description>',
             f'\t\t<year>19{rng.randrange(75, 99)}</year>',
             f'\t\t<manufacturer>Maker {rng.randrange(1, 400)}</manufacturer>']
    for k in range(rom_count):
        size = rng.choice((0x800, 0x1000, 0x2000, 0x4000, 0x8000, 0x10000, 0x20000, 0x80000))
        crc = rng.getrandbits(32)
        sha1 = rng.getrandbits(160)
        region = rng.choice(("maincpu", "gfx1", "gfx2", "audiocpu", "proms", "user1"))
        merge = f' merge="{name[:6]}_{k}.bin"' if parent and k % 3 == 0 else ""
        if k == 7 and index % 50 == 0:
            lines.append(f'\t\t<rom name="{name}_{k}.bin"{merge} size="{size}" status="nodump" '
                         f'region="{region}" offset="{k * size:x}"/>')
            continue
        lines.append(f'\t\t<rom name="{name}_{k}.bin"{merge} size="{size}" crc="{crc:08x}" sha1="{sha1:040x}" '
                     f'region="{region}" offset="{k * size:x}"/>')
    if index % 40 == 0:
        lines.append(f'\t\t<disk name="{name}hd" sha1="{rng.getrandbits(160):040x}" region="ide:0:hdd" '
                     'index="0" writable="no"/>')
    lines += [f'\t\t<device_ref name="z80"/>', f'\t\t<device_ref name="speaker"/>',
              f'\t\t<chip type="cpu" tag="maincpu" name="Zilog Z80" clock="{rng.randrange(1, 8) * 1000000}"/>',
              '\t\t<chip type="audio" tag="speaker" name="Speaker"/>',
              f'\t\t<display tag="screen" type="raster" rotate="{rng.choice((0, 90, 270))}" width="288" '
              'height="224" refresh="60.606061" pixclock="6144000" htotal="384" hbend="0" hbstart="288" '
              'vtotal="264" vbend="0" vbstart="224"/>',
              '\t\t<sound channels="1"/>',
              '\t\t<input players="2" coins="2">',
              '\t\t\t<control type="joy" player="1" buttons="2" ways="8"/>',
              '\t\t\t<control type="joy" player="2" buttons="2" ways="8"/>',
              '\t\t</input>',
              '\t\t<dipswitch name="Lives" tag="DSW1" mask="12">',
              '\t\t\t<diplocation name="SW1" number="3"/>',
              '\t\t\t<dipvalue name="3" value="0" default="yes"/>',
              '\t\t\t<dipvalue name="5" value="4"/>',
              '\t\t</dipswitch>',
              '\t\t<driver status="good" emulation="good" savestate="supported"/>',
              '\t</machine>']
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--machines", type=int, default=40_000)
    parser.add_argument("--roms", type=int, default=300_000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", required=True)
    options = parser.parse_args()
    rng = random.Random(options.seed)
    temporary = options.out + ".part"
    with open(temporary, "w") as out:
        out.write('<?xml version="1.0"?>\n<!DOCTYPE mame [\n<!ELEMENT mame (machine+)>\n'
                  '<!ATTLIST mame build CDATA #IMPLIED>\n]>\n<mame build="0.999 (bench)" debug="no">\n')
        roms_left = options.roms
        parent = None
        for index in range(options.machines):
            machines_left = options.machines - index
            rom_count = roms_left // machines_left + (1 if index % 2 == 0 and roms_left % machines_left else 0)
            rom_count = min(rom_count, roms_left)
            roms_left -= rom_count
            name = f"g{index:05d}"
            is_clone = parent is not None and index % 5 != 0
            out.write("\n".join(machine_lines(rng, index, name, parent if is_clone else None,
                                              "bios0" if index % 17 == 0 else None, rom_count)) + "\n")
            if not is_clone:
                parent = name
        out.write("</mame>\n")
    os.replace(temporary, options.out)


if __name__ == "__main__":
    main()
