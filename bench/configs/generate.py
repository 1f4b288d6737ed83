#!/usr/bin/env python3
"""Writes the benchmark configurations and URL corpus, the same bytes on every run.

  typical.json  3 profiles, 20 schedules, 500 site patterns
  large.json    50 profiles, 2,000 schedules, 50,000 site patterns
  medium.json   30 profiles, 1,000 schedules, 41,500 site patterns (1.2 MB)
  sparse.json   50 profiles, 2,000 schedules, 141,500 site patterns (3.4 MB), without the keys
                that have defaults (identifiers, scripts, quotes, flags): as an older or
                hand-written file holds it
  urls.txt      100,000 URLs, one a line, for the URL-decision benchmarks

Both configurations are whole records as the main application saves them (every field present,
compact UTF-8 with sorted keys): schedule mode ("zeltoType" 2), every schedule on, and all the
site patterns of the stated count in the default (first) profile, which decides. The patterns
are 60% plain ("example123.com/path"), 30% with a "*" and 10% regular expressions ("/.../"); a
few plain ones start with "+" or "-", a few have upper case or non-ASCII letters. The other
profiles hold a few dozen patterns each, on top of the stated count.

Every schedule lies between 07:00 and 23:00 or, overnight, between 22:00 and 02:00, so from
02:00 to 07:00 (any day, any zone) nothing is blocked and nothing starts within five minutes:
a check at 03:00 decides "wait" after evaluating every schedule.

Usage: generate.py [--out DIR] [NAME...]   (names: the files above; default all)
Only the standard library: a private generator (splitmix64) keeps the output independent of the
Python version.
"""

import argparse
import json
import os
import sys

SEED = 20261209
HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(HERE, "..", "..", "resources")


class Random:
    """splitmix64: small, fast, and the same sequence everywhere."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def next64(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
        return z ^ (z >> 31)

    def below(self, n):
        return self.next64() % n

    def chance(self, percent):
        return self.below(10000) < percent * 100

    def pick(self, items):
        return items[self.below(len(items))]

    def uuid(self):
        digits = "%016X%016X" % (self.next64(), self.next64())
        digits = digits[:12] + "4" + digits[13:16] + "89AB"[self.below(4)] + digits[17:]
        return "-".join((digits[:8], digits[8:12], digits[12:16], digits[16:20], digits[20:]))


WORDS = (
    "news play shop video game chat social stream music photo sport bet deal forum wiki mail "
    "blog tube clip meme feed live star fun joke daily world media film show tv radio art "
    "style food travel auto tech cloud web net data book read learn quiz poll vote market "
    "trade coin crypto cash bank loan home garden pet baby kids teen mom dad city local "
    "weather map ride taxi jobs dating match love chef recipe fit health yoga run bike "
    "surf ski golf chess poker slots lotto anime manga comic toon pixel retro arcade"
).split()
TLDS = ["com", "com", "com", "net", "org", "io", "tv", "co.uk", "de", "fr", "app", "gg"]
PATHS = ["watch", "video", "feed", "explore", "r/all", "trending", "live", "shorts", "news",
         "forum/thread", "games/play", "deals/today", "u/profile", "search", "hot/top"]
NON_ASCII_HOSTS = ["bücher", "straße", "café", "jäger", "例え", "пример", "ελληνικά", "mañana"]


def site(rng, namespace):
    """A host of the pattern namespace (0: patterns, 1: never used by any pattern)."""
    number = rng.below(100000) + namespace * 100000
    return "%s%d.%s" % (rng.pick(WORDS), number, rng.pick(TLDS))


def plain_pattern(rng):
    host = site(rng, 0)
    roll = rng.below(100)
    if roll < 40:
        text = host
    elif roll < 68:
        text = "%s/%s" % (host, rng.pick(PATHS))
    elif roll < 78:
        text = "%s/%s/" % (host, rng.pick(PATHS))  # that page only
    elif roll < 83:
        text = "www." + host
    elif roll < 87:
        text = "https://%s.%s/%s" % (rng.pick(WORDS), host, rng.pick(PATHS))
    elif roll < 92:
        text = host.upper() if rng.chance(50) else host.capitalize()
    elif roll < 95:
        text = "%s%d.%s" % (rng.pick(NON_ASCII_HOSTS), rng.below(100000), rng.pick(TLDS))
    elif roll < 98:
        text = "+" + host  # allowed, before everything else
    else:
        text = "-" + host  # blocked, before the always-allowed addresses
    return text


def wildcard_pattern(rng):
    host = site(rng, 0)
    word, rest = host.split(".", 1)
    roll = rng.below(100)
    if roll < 55:
        return "*." + host
    if roll < 75:
        return "%s/*/%s" % (host, rng.pick(PATHS))
    if roll < 90:  # the number's first digits only
        return "%s*.%s/%s" % (word[:-3], rest, rng.pick(PATHS))
    return "*%s*" % word


def regex_pattern(rng):
    host = site(rng, 0)
    word, rest = host.split(".", 1)
    name = word.rstrip("0123456789")
    number = word[len(name):]
    escaped = rest.replace(".", "\\.")
    roll = rng.below(5)
    if roll == 0:
        return "/%s\\.(com|net|org)/" % word
    if roll == 1:
        return "/^https?://([a-z0-9-]+\\.)?%s\\.%s/(watch|video)/" % (word, escaped)
    if roll == 2:  # a hundred numbers
        return "/%s%s[0-9]{2}\\.%s/" % (name, number[:-2], escaped)
    if roll == 3:
        return "/[?&](q|search)=%s%s/" % (name, number)
    return "/[a-z]+\\.%s\\.%s/%s/" % (word, escaped, rng.pick(PATHS).split("/")[0])


def site_patterns(rng, count):
    patterns = []
    for i in range(count):
        share = i % 10  # 6 plain, 3 wildcard, 1 regex in every ten
        if share < 6:
            patterns.append(plain_pattern(rng))
        elif share < 9:
            patterns.append(wildcard_pattern(rng))
        else:
            patterns.append(regex_pattern(rng))
    # Mixed, but the same mix every time.
    for i in range(len(patterns) - 1, 0, -1):
        j = rng.below(i + 1)
        patterns[i], patterns[j] = patterns[j], patterns[i]
    return patterns


def time_of_day(hour, minute):
    stored = {}
    if hour:
        stored["hour"] = hour
    if minute:
        stored["minute"] = minute
    return stored


def schedule(rng, sort_index):
    if rng.chance(5):  # overnight: 22:00-23:45 to 00:15-02:00
        start = (22 * 60 + rng.below(8) * 15, rng.below(8) * 15 + 15)
        from_minutes, to_minutes = start
    else:
        from_minutes = 7 * 60 + rng.below(60) * 15  # 07:00 to 21:45
        to_minutes = min(from_minutes + 30 + rng.below(16) * 15, 23 * 60)
    return {
        "fromDate": time_of_day(from_minutes // 60, from_minutes % 60),
        "isEnabled": True,
        "scheduleType": 1 + rng.below(10),
        "sortIndex": sort_index,
        "toDate": time_of_day(to_minutes // 60, to_minutes % 60),
        "uniqueID": rng.uuid(),
    }


def resource_lines(name):
    with open(os.path.join(RESOURCES, name), encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")]


def resource_text(name):
    with open(os.path.join(RESOURCES, name), encoding="utf-8") as f:
        return f.read()


PROFILE_NAMES = ["Default", "Work", "Study", "Evening", "Weekend", "Deep work", "Reading"]


def profile(rng, index, schedules, patterns):
    applications = []
    for _ in range(rng.below(4)):
        applications.append({
            "path": "/opt/%s%d/%s.app" % (rng.pick(WORDS), rng.below(1000), rng.pick(WORDS)),
            "performOnlySoftKillThenLeaveOpen": False,
            "shouldAlwaysForceQuit": rng.chance(20),
            "shouldHideInsteadOfQuit": True,
            "shouldReopenWhenUnzeltoing": True,
        })
    name = PROFILE_NAMES[index] if index < len(PROFILE_NAMES) else "Profile %d" % (index + 1)
    return {
        "blockedApplications": applications,
        "blockedWebsites": patterns,
        "breakScript": resource_text("break_script"),
        "enableWhitelistWebsites": False,
        "name": name,
        "quotes": [{"author": line.split("|", 1)[1] if "|" in line else "",
                    "quote": line.split("|", 1)[0]} for line in resource_lines("quotes")],
        "schedules": schedules,
        "timers": {"frequentlyUsedIntervals": {"1500": 4, "3600": 2}, "interval": 1500},
        "uniqueID": rng.uuid(),
        "unbreakScript": resource_text("unbreak_script"),
        "unzeltoScript": resource_text("unzelto_script"),
        "whitelistedWebsites": ["quarnix.com", site(rng, 0)],
        "zeltoScript": resource_text("zelto_script"),
    }


def record(seed, profiles, schedules, patterns, sessions):
    rng = Random(seed)
    default_patterns = site_patterns(rng, patterns)
    per_profile = [schedules // profiles + (1 if p < schedules % profiles else 0)
                   for p in range(profiles)]
    built = []
    for p in range(profiles):
        listed = default_patterns if p == 0 else site_patterns(rng, 20 + rng.below(30))
        mine = [schedule(rng, position) for position in range(per_profile[p])]
        built.append(profile(rng, p, mine, listed))
    history = []
    for i in range(sessions):
        day = 1 + i % 28
        history.append({
            "date": "2026-%02d-%02dT%02d:%02d:00.000Z" % (1 + (i // 28) % 11, day,
                                                          7 + rng.below(14), rng.below(60)),
            "interval": rng.pick([300, 900, 1500, 1500, 3600]),
            "zeltoType": rng.pick([0, 1, 1, 2, 4]),
        })
    return {
        "blockSpeedThrottle": 1,
        "breakInterval": 300,
        "breakTimeoutInterval": 86400,
        "breakTotalAllowedInterval": 1800,
        "did_use_break": True,
        "did_use_hardcore_mode": False,
        "did_use_password_mode": False,
        "did_use_pomomdoro": False,
        "did_use_schedule": True,
        "did_use_scripting": False,
        "did_use_timer": True,
        "did_use_zelto": True,
        "disableAutoSendCrashReports": False,
        "disableBreaks": False,
        "disableDoNotDisturbMode": True,
        "disableEagerUnzelto": False,
        "disableLaunchOnStartup": False,
        "disableNotifications": False,
        "disableShowBrowserPopover": False,
        "disableShowDragAndDropTooltip": False,
        "enableBetaUpdates": False,
        "enableCloseBrowserTabs": False,
        "enableMonochromeIcon": False,
        "enablePomodoroMode": False,
        "hasPromptedForFirefox": True,
        "hasSeenPreferences": True,
        "lastCrashReportCheckDate": "2026-11-30T08:00:00.000Z",
        "lastCustomHoursTime": 0,
        "lastCustomMinutesTime": 0,
        "maxExpectedBreakInterval": 0,
        "numberOfTimesRun": 42,
        "profiles": built,
        "sessions": history,
        "uniqueIdentifier": rng.uuid(),
        "zeltoHardcoreMode": False,
        "zeltoMenuBarClickBehavior": 0,
        "zeltoMenuBarType": 0,
        "zeltoMustCompleteSession": False,
        "zeltoType": 2,
    }


# What a sparse record keeps: only what the defaults can't give. Everything else (identifiers,
# flags, scripts, quotes, timers) is left for the reader to fill in.
SPARSE_KEPT = {"zeltoType", "profiles", "sessions"}
SPARSE_PROFILE_KEPT = {"blockedWebsites", "blockedApplications", "name", "schedules"}
SPARSE_SCHEDULE_DROPPED = {"uniqueID"}


def sparse_record(seed, profiles, schedules, patterns, sessions):
    full = record(seed, profiles, schedules, patterns, sessions)
    sparse = {key: value for key, value in full.items() if key in SPARSE_KEPT}
    for profile_entry in sparse["profiles"]:
        for key in list(profile_entry):
            if key not in SPARSE_PROFILE_KEPT:
                del profile_entry[key]
        for entry in profile_entry["schedules"]:
            for key in SPARSE_SCHEDULE_DROPPED:
                entry.pop(key, None)
    return sparse


def url_for(rng, pattern):
    """An address the pattern was written for (it may still not match: "/" pages, regexes)."""
    text = pattern.lstrip("+-")
    if text.startswith("/") and text.endswith("/"):
        return None
    text = text.replace("*.", "%s." % rng.pick(WORDS)).replace("*", rng.pick(WORDS))
    if "://" not in text:
        text = rng.pick(["https://", "http://", "https://www."]) + text
    return text


def urls(count):
    rng = Random(SEED + 7)
    patterns = site_patterns(Random(SEED + 2), 50000)  # the patterns of large.json
    out = []
    while len(out) < count:
        roll = rng.below(100)
        if roll < 45:
            url = url_for(rng, rng.pick(patterns))
            if url is None:
                continue
            if rng.chance(40):
                url += "/" + rng.pick(PATHS)
        elif roll < 50:  # the shapes the regular expressions look for
            word = "%s%d" % (rng.pick(WORDS), rng.below(100000))
            url = rng.pick([
                "https://www.%s.com/watch/" % word,
                "https://m.%s.%s/video/%d" % (word, rng.pick(TLDS), rng.below(1000)),
                "https://search.example.org/?q=%s" % word,
            ])
        elif roll < 95:  # sites no pattern names
            url = "%s%s/%s" % (rng.pick(["https://", "http://", "https://www."]), site(rng, 1),
                              rng.pick(PATHS))
        elif roll < 98:
            url = "https://%s%d.%s/%s" % (rng.pick(NON_ASCII_HOSTS), rng.below(200000),
                                         rng.pick(TLDS), rng.pick(["straße", "日本語", "ü?x=é"]))
        elif roll < 99:
            url = "http://localhost:8919/block/?zelto_url=https%%3A%%2F%%2F%s" % site(rng, 0)
        else:
            url = rng.pick(["about:blank", "chrome://newtab/", "file:///home/user/notes.html",
                            "https://quarnix.com/help", "http://127.0.0.1:8080/"])
        if rng.chance(25):
            url += "?%s=%s&page=%d" % (rng.pick(["q", "ref", "utm_source", "id"]),
                                       rng.pick(WORDS), rng.below(50))
        if rng.chance(5):
            url += "#" + rng.pick(WORDS)
        if rng.chance(10):
            url = url.upper() if rng.chance(30) else url[:12].upper() + url[12:]
        out.append(url)
    return out


def write_json(path, value):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(json.dumps(value, ensure_ascii=False, sort_keys=True, separators=(",", ":")))


def write_lines(path, lines):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


OUTPUTS = {
    "typical.json": lambda path: write_json(path, record(SEED + 1, 3, 20, 500, 20)),
    "large.json": lambda path: write_json(path, record(SEED + 2, 50, 2000, 50000, 200)),
    "medium.json": lambda path: write_json(path, record(SEED + 3, 30, 1000, 41500, 200)),
    "sparse.json": lambda path: write_json(path, sparse_record(SEED + 4, 50, 2000, 142000, 500)),
    "urls.txt": lambda path: write_lines(path, urls(100000)),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", default=HERE, help="directory to write to (default: here)")
    parser.add_argument("names", nargs="*", metavar="NAME", help=", ".join(sorted(OUTPUTS)))
    args = parser.parse_args()
    unknown = [name for name in args.names if name not in OUTPUTS]
    if unknown:
        parser.error("unknown output: " + ", ".join(unknown))
    os.makedirs(args.out, exist_ok=True)
    for name in args.names or sorted(OUTPUTS):
        # Written beside the target, then moved over it: a reader never sees half a file.
        target = os.path.join(args.out, name)
        OUTPUTS[name](target + ".tmp")
        os.replace(target + ".tmp", target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
