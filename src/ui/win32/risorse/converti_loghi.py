#!/usr/bin/env python3
"""The logos of the Qt build as Win32 resources: an icon (several sizes, 32-bit
with alpha) and 32-bit bitmaps with premultiplied alpha, ready for AlphaBlend.
Only the PNGs the logo drawing writes are read: 8-bit RGBA, not interlaced.

    converti_loghi.py icona LOGO.png OUT.ico
    converti_loghi.py bitmap LOGO.png OUT.bmp
"""
import struct
import sys
import zlib


def leggi_png(percorso):
    with open(percorso, "rb") as f:
        dati = f.read()
    if dati[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{percorso}: non è un PNG")
    pos, idat = 8, b""
    while pos < len(dati):
        (lunghezza,) = struct.unpack(">I", dati[pos:pos + 4])
        tipo = dati[pos + 4:pos + 8]
        corpo = dati[pos + 8:pos + 8 + lunghezza]
        if tipo == b"IHDR":
            larghezza, altezza, bit, colore, _, _, interlacciato = struct.unpack(">IIBBBBB", corpo)
            if (bit, colore, interlacciato) != (8, 6, 0):
                sys.exit(f"{percorso}: serve un PNG RGBA a 8 bit non interlacciato")
        elif tipo == b"IDAT":
            idat += corpo
        pos += 12 + lunghezza
    grezzi = zlib.decompress(idat)
    passo = larghezza * 4
    righe, prima = [], bytearray(passo)
    for y in range(altezza):
        inizio = y * (passo + 1)
        filtro, riga = grezzi[inizio], bytearray(grezzi[inizio + 1:inizio + 1 + passo])
        for i in range(passo):
            a = riga[i - 4] if i >= 4 else 0
            b = prima[i]
            c = prima[i - 4] if i >= 4 else 0
            if filtro == 1:
                riga[i] = (riga[i] + a) & 255
            elif filtro == 2:
                riga[i] = (riga[i] + b) & 255
            elif filtro == 3:
                riga[i] = (riga[i] + (a + b) // 2) & 255
            elif filtro == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                riga[i] = (riga[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        righe.append(riga)
        prima = riga
    return larghezza, altezza, righe


def riduci(larghezza, altezza, righe, lato):
    """Area average in premultiplied alpha, so that edges stay clean."""
    uscita = []
    for y in range(lato):
        y0, y1 = y * altezza // lato, max((y + 1) * altezza // lato, y * altezza // lato + 1)
        riga = bytearray()
        for x in range(lato):
            x0, x1 = x * larghezza // lato, max((x + 1) * larghezza // lato, x * larghezza // lato + 1)
            r = g = b = a = 0
            for sy in range(y0, y1):
                for sx in range(x0, x1):
                    pr, pg, pb, pa = righe[sy][sx * 4:sx * 4 + 4]
                    r, g, b, a = r + pr * pa, g + pg * pa, b + pb * pa, a + pa
            n = (y1 - y0) * (x1 - x0)
            riga += bytes((r // a, g // a, b // a, a // n) if a else (0, 0, 0, 0))
        uscita.append(riga)
    return uscita


def bgra_dal_basso(righe, premoltiplica):
    corpo = bytearray()
    for riga in reversed(righe):
        for i in range(0, len(riga), 4):
            r, g, b, a = riga[i:i + 4]
            if premoltiplica:
                r, g, b = r * a // 255, g * a // 255, b * a // 255
            corpo += bytes((b, g, r, a))
    return bytes(corpo)


def intestazione_dib(larghezza, altezza):
    return struct.pack("<IiiHHIIiiII", 40, larghezza, altezza, 1, 32, 0, 0, 0, 0, 0, 0)


def icona(png, uscita):
    larghezza, altezza, righe = leggi_png(png)
    immagini = []
    for lato in (16, 24, 32, 48, 64, 128):
        pixel = righe if lato == larghezza else riduci(larghezza, altezza, righe, lato)
        maschera = bytes(((lato + 31) // 32 * 4) * lato)
        immagini.append((lato, intestazione_dib(lato, lato * 2) + bgra_dal_basso(pixel, False) + maschera))
    testata = struct.pack("<HHH", 0, 1, len(immagini))
    posizione = 6 + 16 * len(immagini)
    voci = b""
    for lato, dati in immagini:
        voci += struct.pack("<BBBBHHII", lato % 256, lato % 256, 0, 0, 1, 32, len(dati), posizione)
        posizione += len(dati)
    with open(uscita, "wb") as f:
        f.write(testata + voci + b"".join(dati for _, dati in immagini))


def bitmap(png, uscita):
    larghezza, altezza, righe = leggi_png(png)
    dib = intestazione_dib(larghezza, altezza) + bgra_dal_basso(righe, True)
    with open(uscita, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", 14 + len(dib), 0, 0, 54) + dib)


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("icona", "bitmap"):
        sys.exit(__doc__)
    {"icona": icona, "bitmap": bitmap}[sys.argv[1]](sys.argv[2], sys.argv[3])
