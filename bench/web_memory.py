#!/usr/bin/env python3
"""The browser edition's memory on a large movie (a measurement, not a test).

Makes a camera movie of about SIZE GB (its media data mostly a sparse hole,
so it costs no disk until it is copied), opens the page in headless Chromium
over the DevTools protocol, chooses the movie through the page's own file
input (a File backed by the disk, as a user's choice is), converts it, and
samples the proportional set size (PSS) of every browser process: the figure
is the peak during the conversion above the idle page with the movie listed.
The output is written into the browser's private storage (the profile, in
TMPDIR): SIZE GB of free space are needed there.

Usage: bench/web_memory.py --web build-web --make-movie build/make_camera_movie [--gb 4]
"""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / 'tests' / 'web'))
import screenshots  # noqa: E402


def Descendants(leader):
    """The browser's processes: the one started and all it started."""
    parents = {}
    for entry in os.scandir('/proc'):
        if entry.name.isdigit():
            try:
                with open(f'/proc/{entry.name}/stat') as stat:
                    parents[int(entry.name)] = int(stat.read().rsplit(')', 1)[1].split()[1])
            except OSError:
                continue
    found, grew = {leader}, True
    while grew:
        more = {pid for pid, parent in parents.items() if parent in found} - found
        found |= more
        grew = bool(more)
    return found


def SessionPss(leader, each=None):
    """The summed PSS in bytes of the browser's processes, by their kind."""
    total = 0
    for pid in Descendants(leader):
        try:
            with open(f'/proc/{pid}/smaps_rollup') as rollup:
                pss = sum(int(line.split()[1]) * 1024 for line in rollup if line.startswith('Pss:'))
            with open(f'/proc/{pid}/cmdline', 'rb') as cmdline:
                arguments = cmdline.read().replace(b'\0', b' ').split()
        except OSError:
            continue
        total += pss
        if each is not None:
            kind = [a.decode()[7:] for a in arguments if a.startswith(b'--type=')]
            sub = [a.decode()[19:].split('.')[0] for a in arguments
                   if a.startswith(b'--utility-sub-type=')]
            name = (kind or ['browser'])[0] + ('/' + sub[0] if sub else '')
            each[name] = each.get(name, 0) + pss
    return total


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--web', required=True, type=pathlib.Path)
    parser.add_argument('--make-movie', required=True)
    parser.add_argument('--gb', type=float, default=4.0)
    args = parser.parse_args()

    work = pathlib.Path(tempfile.mkdtemp(prefix='spatialmux-web-memory-'))
    os.chmod(work, 0o755)
    movie = work / 'R0010099.MP4'
    subprocess.run([args.make_movie, '--seconds', '60', '--hole', str(int(args.gb * 1e9)),
                    str(movie)], check=True, stdout=subprocess.DEVNULL)
    os.chmod(movie, 0o644)
    print(f'movie: {movie.stat().st_size / 1e9:.2f} GB')

    tools = screenshots.StartChromium(args.web, work)
    base = tools.base
    try:
        tools.Call('Page.navigate', url=f'{base}/index.html?lang=en')
        tools.Wait("document.body && document.body.dataset.ready === 'true'")
        root = tools.Call('DOM.getDocument')['root']['nodeId']
        node = tools.Call('DOM.querySelector', nodeId=root, selector='#files')['nodeId']
        tools.Call('DOM.setFileInputFiles', files=[str(movie)], nodeId=node)
        tools.Wait("!!document.querySelector('.row-ready .convert')", timeout=300)
        time.sleep(2)
        idle_each = {}
        idle = SessionPss(tools.process.pid, idle_each)
        print(f'idle page with the movie listed: {idle / 1e6:.0f} MB')
        tools.Evaluate("document.querySelector('.row-ready .convert').click()")
        start = time.time()
        peak, peak_each = idle, idle_each
        while not tools.Evaluate("!!document.querySelector('.row-converted, .row-failed')"):
            each = {}
            now = SessionPss(tools.process.pid, each)
            if now > peak:
                peak, peak_each = now, each
            time.sleep(0.2)
        seconds = time.time() - start
        state = tools.Evaluate("Array.from(document.querySelectorAll('.row .state, .row .detail'))"
                               ".map((p) => p.textContent).join(': ')")
        print(f'{state} in {seconds:.0f} s')
        print(f'peak during the conversion: {peak / 1e6:.0f} MB, '
              f'{(peak - idle) / 1e6:.0f} MB above the idle page')
        for kind in sorted(peak_each):
            print(f'  {kind}: {idle_each.get(kind, 0) / 1e6:.0f} MB idle, '
                  f'{peak_each[kind] / 1e6:.0f} MB at the peak')
    finally:
        tools.Stop()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
