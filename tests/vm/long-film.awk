# Writes a two-hour film's subtitle file: COUNT subtitles (default 1500) spread over
# 7200 s, one to three screen lines each of everyday Dutch words, with the accented letters,
# digits, punctuation and a few top-band subtitles a real file has. The same every time.
#
#   awk -v count=1500 -f tests/vm/long-film.awk >film.tkx
function word() {
    seed = (seed * 1103515245 + 12345) % 2147483648
    return words[int(seed / 65536) % nwords + 1]
}
function pick(n) {
    seed = (seed * 1103515245 + 12345) % 2147483648
    return int(seed / 65536) % n
}
BEGIN {
    if (count == "") count = 1500
    nwords = split("ik je het een de dat is niet en wat van we in ze op hij te zijn er maar " \
        "hebben mij heb met voor als dit mijn zo naar weet was hier goed jij kan nee ja " \
        "daar gaan wel moet nog dan wil wordt geen al komt zeggen één ideeën café " \
        "geëerd reünie naïef coördinatie België financiële zeeën vóór hè Zoë " \
        "Amsterdam morgen vanavond politie dokter misschien altijd nooit waarom " \
        "alsjeblieft bedankt vriend broer moeder vader huis auto trein geld 1984 " \
        "twintig 7 uur, halfnegen! waar? zeker. \"echt\" (stil) ...", words, " ")
    seed = 20261207
    printf "[KTF2: %d 0 ]\r\n", count
    step = int(7200 * 25 / count)
    for (i = 0; i < count; i++) {
        start = i * step + 12 + pick(12)
        end = start + 38 + pick(step - 50)
        lines = 1 + pick(3)
        text = ""
        for (l = 0; l < lines; l++) {
            line = word()
            n = 2 + pick(7)
            for (w = 1; w < n; w++) line = line " " word()
            text = text (l ? "|" : "") (l ? line : toupper(substr(line, 1, 1)) substr(line, 2))
        }
        # Now and then a subtitle in the top band, as for a sign on screen.
        if (pick(25) == 0) printf "{%d}{%d}{256}%s\r\n", start, end, text
        else printf "{%d}{%d}%s\r\n", start, end, text
    }
}
