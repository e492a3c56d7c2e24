#!/usr/bin/env python3
"""Tries every demo rule file on the demo site with velunor-cli rule-check, and drafts a rule
for the demo site that has none.

Starts demo_site.py on a free port, copies each rule of RULE_FOLDER with the demo's address
(port 8808, on 127.0.0.1 and on localhost) moved to that port, and runs

    velunor-cli rule-check RULE TITLE

for each, TITLE being the novel the table below names for it; then

    velunor-cli rule-draft NOVEL_URL --out DRAFT

for 演示文苑, which no rule file describes, and rule-check on the draft it wrote. Passes when
every rule and the draft pass; a rule file the table does not name fails, so that a new demo
rule comes with its check.

Usage: check_rules.py VELUNOR_CLI RULE_FOLDER
"""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True

# The novel each demo rule is tried with. 春江夜话 of 00-demo.xml is not used: its third chapter
# fails on purpose, so that the reader's reload link can be tried.
TITLES = {
    "00-demo.xml": "山居小记",
    "01-demo-utf8.xml": "星河渡",
    "02-demo-shuge.xml": "雾港灯语",
    "03-demo-shulin.xml": "夜渡青溪",
    "04-demo-shucheng.xml": "松间棋声",
}

DEMO_PORT = "8808"
# The novel of the demo site without a rule that a rule is drafted from, and its title.
UNRULED_NOVEL = "/wenyuan/book/3071/"
UNRULED_TITLE = "松风入卷"
DEMO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "demo_site.py")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until_listening(port, process):
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and process.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def copy_rule(source, target, port):
    with open(source, encoding="utf-8") as stream:
        text = stream.read()
    for host in ("127.0.0.1", "localhost"):
        text = text.replace("%s:%s/" % (host, DEMO_PORT), "%s:%d/" % (host, port))
    with open(target, "w", encoding="utf-8") as stream:
        stream.write(text)


def check(cli, rule, *start):
    run = subprocess.run([cli, "rule-check", rule, *start], capture_output=True, text=True,
                         timeout=300)
    if run.returncode != 0:
        print(run.stdout + run.stderr)
    return run.returncode == 0


def check_draft(cli, port, work):
    draft = os.path.join(work, "wenyuan-draft.xml")
    url = "http://127.0.0.1:%d%s" % (port, UNRULED_NOVEL)
    run = subprocess.run([cli, "rule-draft", url, "--out", draft], capture_output=True, text=True,
                         timeout=300)
    if run.returncode != 0:
        print(run.stdout + run.stderr)
        return False
    return check(cli, draft, "--url", url)


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    cli, rule_folder = sys.argv[1], sys.argv[2]
    rules = sorted(name for name in os.listdir(rule_folder) if name.lower().endswith(".xml"))
    port = free_port()
    site = subprocess.Popen([sys.executable, DEMO, str(port)], stdout=subprocess.DEVNULL)
    work = tempfile.mkdtemp(prefix="velunor-demo-rules-")
    failed = []
    try:
        if not wait_until_listening(port, site):
            print("the demo site did not start")
            return 1
        for name in rules:
            title = TITLES.get(name)
            copy = os.path.join(work, name)
            copy_rule(os.path.join(rule_folder, name), copy, port)
            passed = title is not None and check(cli, copy, title)
            print("%s %s%s" % ("PASS" if passed else "FAIL", name,
                               "" if title else " (no demo title named for it)"))
            if not passed:
                failed.append(name)
        drafted = check_draft(cli, port, work)
        print("%s draft of %s" % ("PASS" if drafted else "FAIL", UNRULED_TITLE))
        if not drafted:
            failed.append("draft")
    finally:
        site.terminate()
        site.wait()
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed or not rules else 0


if __name__ == "__main__":
    sys.exit(main())
