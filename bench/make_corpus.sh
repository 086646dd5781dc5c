#!/usr/bin/env bash
# make_corpus.sh OUTDIR: writes the codec benchmark corpus (66 MiB, five files) into OUTDIR.
#
# Everything is generated from fixed seeds with Python's Mersenne Twister, so every machine
# gets the same bytes (the checksums below prove it) and nothing is downloaded:
#   text.txt      24 MiB  English-like prose: Zipf-weighted words, sentences, paragraphs
#   source.cpp    14 MiB  C++-like source: functions, loops, comments, indentation
#   binary.bin    12 MiB  structured records: counters, offsets, floats, opcodes, strings
#   random.bin     8 MiB  incompressible bytes, standing in for already-compressed data
#   runs.bin       8 MiB  long runs of one byte, zero pages and short repeats
# When OUTDIR already holds the five files with the expected checksums nothing is done.
# Files are written under a temporary name and renamed, so an interrupted run leaves no
# file that looks complete.
set -euo pipefail
out=${1:?usage: make_corpus.sh OUTDIR}
mkdir -p "$out"

sums='
9325880331066195df74936c40ed3dbb2a7a48577aa3d68d868ccb533023f148  text.txt
d17e0eb09a3156f5c7167d31343a339097a37ad8ee7a0a2a10bb156000dfa11d  source.cpp
689bc370c81229d3519efc05bc411a7387b7ce006dfcf3c55d772dadc90bffc5  binary.bin
d6355aec9bd59a5453c4b8c77df716556d13274837e3230691078d299860dadc  random.bin
019046d295a0d6106b395d1ee3931581dee9cc3e3bcc7342ac50b461e1129dba  runs.bin
'

# Names of the files that are missing or do not have their checksum.
stale() {
  printf '%s\n' "$sums" | while read -r sum name; do
    [[ -n $name ]] || continue
    if [[ ! -f $out/$name ]] || [[ $(sha256sum <"$out/$name" | cut -d' ' -f1) != "$sum" ]]; then
      echo "$name"
    fi
  done
}

todo=$(stale)
if [[ -z $todo ]]; then
  echo "make_corpus: $out is complete"
  exit 0
fi

# shellcheck disable=SC2086 # one argument per file name
python3 - "$out" $todo <<'PY'
import os, random, struct, sys

out = sys.argv[1]
wanted = set(sys.argv[2:])
MiB = 1 << 20


def write(name, data, size):
    assert len(data) >= size, name
    tmp = os.path.join(out, "." + name + ".tmp")
    with open(tmp, "wb") as f:
        f.write(data[:size])
    os.replace(tmp, os.path.join(out, name))


WORDS = """the of and to a in is it you that he was for on are with as I his they be at one
have this from or had by hot word but what some we can out other were all there when up use
your how said an each she which do their time if will way about many then them write would
like so these her long make thing see him two has look more day could go come did number sound
no most people my over know water than call first who may down side been now find any new
work part take get place made live where after back little only round man year came show every
good me give our under name very through just form sentence great think say help low line differ
turn cause much mean before move right boy old too same tell does set three want air well also
play small end put home read hand port large spell add even land here must big high such follow
act why ask men change went light kind off need house picture try us again animal point mother
world near build self earth father head stand own page should country found answer school grow
study still learn plant cover food sun four between state keep eye never last let thought city
tree cross farm hard start might story saw far sea draw left late run while press close night
real life few north open seem together next white children begin got walk example ease paper
group always music those both mark often letter until mile river car feet care second book carry
took science eat room friend began idea fish mountain stop once base hear horse cut sure watch
color face wood main enough plain girl usual young ready above ever red list though feel talk
bird soon body dog family direct pose leave song measure door product black short numeral class
wind question happen complete ship area half rock order fire south problem piece told knew pass
since top whole king space heard best hour better true during hundred five remember step early
hold west ground interest reach fast verb sing listen six table travel less morning ten simple
several vowel toward war lay against pattern slow center love person money serve appear road map
rain rule govern pull cold notice voice unit power town fine certain fly fall lead cry dark
machine note wait plan figure star box noun field rest correct able pound done beauty drive stood
contain front teach week final gave green oh quick develop ocean warm free minute strong special
mind behind clear tail produce fact street inch multiply nothing course stay wheel full force blue
object decide surface deep moon island foot system busy test record boat common gold possible
plane stead dry wonder laugh thousand ago ran check game shape equate miss brought heat snow tire
bring yes distant fill east paint language among grand ball yet wave drop heart present heavy
dance engine position arm wide sail material size vary settle speak weight general ice matter
circle pair include divide syllable felt perhaps pick sudden count square reason length represent
art subject region energy hunt probable bed brother egg ride cell believe fraction forest sit
race window store summer train sleep prove lone leg exercise wall catch mount wish sky board joy
winter sat written wild instrument kept glass grass cow job edge sign visit past soft fun bright
gas weather month million bear finish happy hope flower clothe strange gone jump baby eight
village meet root buy raise solve metal whether push seven paragraph third shall held hair
describe cook floor either result burn hill safe cat century consider type law bit coast copy
phrase silent tall sand soil roll temperature finger industry value fight lie beat excite natural
view sense ear else quite broke case middle kill son lake moment scale loud spring observe child
straight consonant nation dictionary milk speed method organ pay age section dress cloud surprise
quiet stone tiny climb cool design poor lot experiment bottom key iron single stick flat twenty
skin smile crease hole trade melody trip office receive row mouth exact symbol die least trouble
shout except wrote seed tone join suggest clean break lady yard rise bad blow oil blood touch grew
cent mix team wire cost lost brown wear garden equal sent choose fell fit flow fair bank collect
save control decimal gentle woman captain practice separate difficult doctor please protect noon
whose locate ring character insect caught period indicate radio spoke atom human history effect
electric expect crop modern element hit student corner party supply bone rail imagine provide
agree thus capital chair danger fruit rich thick soldier process operate guess necessary sharp
wing create neighbor wash bat rather crowd corn compare poem string bell depend meat rub tube
famous dollar stream fear sight thin triangle planet hurry chief colony clock mine tie enter major
fresh search send yellow gun allow print dead spot desert suit current lift rose continue block
chart hat sell success company subtract event particular deal swim term opposite wife shoe
shoulder spread arrange camp invent cotton born determine quart nine truck noise level chance
gather shop stretch throw shine property column molecule select wrong gray repeat require broad
prepare salt nose plural anger claim continent oxygen sugar death pretty skill women season
solution magnet silver thank branch match suffix especially fig afraid huge sister steel discuss
forward similar guide experience score apple bought led pitch coat mass card band rope slip win
dream evening condition feed tool total basic smell valley nor double seat arrive master track
parent shore division sheet substance favor connect post spend chord fat glad original share
station dad bread charge proper bar offer segment slave duck instant market degree populate chick
dear enemy reply drink occur support speech nature range steam motion path liquid log meant
quotient teeth shell neck""".split()


def make_text(size):
    rng = random.Random(0x4C554D31)
    weights = [1.0 / (i + 2) for i in range(len(WORDS))]
    out = []
    total = 0
    while total < size:
        words = rng.choices(WORDS, weights, k=4096)
        i = 0
        para = []
        while i < len(words):
            n = rng.randint(5, 24)
            sent = words[i:i + n]
            i += n
            if not sent:
                break
            if rng.random() < 0.3 and len(sent) > 6:
                sent[rng.randint(2, len(sent) - 3)] += ","
            sent[0] = sent[0].capitalize()
            para.append(" ".join(sent) + rng.choice(".....?!"))
            if rng.random() < 0.15:
                chunk = "\n".join(wrap(" ".join(para), 72)) + "\n\n"
                out.append(chunk)
                total += len(chunk)
                para = []
        if para:
            chunk = "\n".join(wrap(" ".join(para), 72)) + "\n\n"
            out.append(chunk)
            total += len(chunk)
    return "".join(out).encode("ascii")


def wrap(text, width):
    lines, line = [], ""
    for w in text.split(" "):
        if line and len(line) + 1 + len(w) > width:
            lines.append(line)
            line = w
        else:
            line = line + " " + w if line else w
    if line:
        lines.append(line)
    return lines


def make_source(size):
    rng = random.Random(0x4C554D32)
    parts = ["entry", "archive", "buffer", "stream", "table", "window", "count", "offset",
             "name", "size", "crc", "block", "state", "handle", "folder", "header", "record",
             "value", "index", "length", "flags", "data", "chunk", "path", "error", "result"]
    types = ["int", "std::uint32_t", "std::size_t", "bool", "std::string", "const char*",
             "std::vector<std::uint8_t>", "double", "std::int64_t"]
    ops = ["+", "-", "*", "^", "&", "|", "<<", ">>"]

    def ident(k=2):
        w = [rng.choice(parts) for _ in range(k)]
        return w[0] + "".join(x.capitalize() for x in w[1:])

    def type_name(k=3):
        return "".join(rng.choice(parts).capitalize() for _ in range(k))

    def stmt(depth, vars_):
        ind = "  " * depth
        r = rng.random()
        a, b = rng.choice(vars_), rng.choice(vars_)
        if r < 0.35:
            return f"{ind}{a} = {b} {rng.choice(ops)} {rng.randint(0, 255)};\n"
        if r < 0.5:
            return f"{ind}if ({a} != {b}) return {rng.choice(['false', 'true', '0', a])};\n"
        if r < 0.6:
            return f"{ind}// {ident(3)} keeps the {rng.choice(parts)} of the {rng.choice(parts)}.\n"
        if r < 0.75 and depth < 4:
            i = rng.choice("ijk")
            body = "".join(stmt(depth + 1, vars_ + [i]) for _ in range(rng.randint(1, 3)))
            return f"{ind}for (std::size_t {i} = 0; {i} < {a}.size(); ++{i}) {{\n{body}{ind}}}\n"
        if r < 0.85 and depth < 4:
            body = "".join(stmt(depth + 1, vars_) for _ in range(rng.randint(1, 3)))
            return f"{ind}if ({a} > {rng.randint(0, 65535)}) {{\n{body}{ind}}}\n"
        return f"{ind}{ident()}({a}, {b});\n"

    out = [b"// Generated C++-like source for the codec benchmark.\n#include <cstdint>\n\n"]
    total = 0
    ns = 0
    while total < size:
        chunk = [f"namespace {ident(1)}{ns} {{\n\n"]
        ns += 1
        for _ in range(40):
            params = [f"{rng.choice(types)} {ident(1)}" for _ in range(rng.randint(0, 4))]
            vars_ = [p.split(" ")[-1] for p in params] or ["m_lCount"]
            chunk.append(f"// Returns the {ident(2)} of the {rng.choice(parts)}.\n")
            chunk.append(f"{rng.choice(types)} {type_name()}({', '.join(params)}) {{\n")
            chunk.extend(stmt(1, vars_) for _ in range(rng.randint(2, 9)))
            chunk.append(f"  return {rng.choice(vars_)};\n}}\n\n")
        chunk.append("}  // namespace\n\n")
        b = "".join(chunk).encode("ascii")
        out.append(b)
        total += len(b)
    return b"".join(out)


def make_binary(size):
    rng = random.Random(0x4C554D33)
    out = bytearray()
    rec = struct.Struct("<IIHHfd")
    names = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz_") for _ in range(rng.randint(4, 20)))
             for _ in range(2000)]
    opcodes = bytes([0x8B, 0x89, 0x48, 0xE8, 0xFF, 0x83, 0xC3, 0x0F, 0x85, 0x74, 0x31, 0xC0])
    serial = 0
    while len(out) < size:
        kind = rng.random()
        if kind < 0.4:  # table of records with counters and offsets
            for _ in range(rng.randint(50, 400)):
                serial += 1
                out += rec.pack(serial, serial * 48 + rng.randint(0, 15), rng.randint(0, 3),
                                0x1234, rng.random() * 100.0, serial * 0.5)
        elif kind < 0.7:  # machine-code-like bytes: few opcodes, small operands
            n = rng.randint(500, 4000)
            out += bytes(rng.choice(opcodes) if rng.random() < 0.6 else rng.randint(0, 31)
                         for _ in range(n))
        elif kind < 0.85:  # string table
            for _ in range(rng.randint(20, 200)):
                out += rng.choice(names) + b"\0"
        else:  # aligned padding and small integers
            out += bytes(rng.randint(0, 4) * 16)
            out += b"".join(struct.pack("<i", rng.randint(-1000, 1000))
                            for _ in range(rng.randint(16, 256)))
    return bytes(out)


def make_random(size):
    return random.Random(0x4C554D34).randbytes(size)


def make_runs(size):
    rng = random.Random(0x4C554D35)
    out = bytearray()
    while len(out) < size:
        r = rng.random()
        if r < 0.4:
            out += bytes([rng.randint(0, 255)]) * rng.randint(1, 65536)
        elif r < 0.6:
            out += bytes(4096 * rng.randint(1, 16))
        else:
            pattern = rng.randbytes(rng.randint(2, 12))
            out += pattern * rng.randint(10, 2000)
    return bytes(out)


for name, make, size in [("text.txt", make_text, 24 * MiB), ("source.cpp", make_source, 14 * MiB),
                         ("binary.bin", make_binary, 12 * MiB), ("random.bin", make_random, 8 * MiB),
                         ("runs.bin", make_runs, 8 * MiB)]:
    if name in wanted:
        write(name, make(size), size)
PY

todo=$(stale)
if [[ -n $todo ]]; then
  echo "make_corpus: unexpected contents in $out:" $todo >&2
  exit 1
fi
echo "make_corpus: wrote $out"
