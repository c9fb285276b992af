#!/usr/bin/env python3
"""The page end to end in a real browser (headless Chromium or Firefox ESR).

Serves build-web/ with Python's http.server, opens tests/web/run.html (which
drives the page through window.spatialmuxWeb and posts what came out), and
compares the outputs with the desktop program's byte for byte. Every request
is logged: the page may ask for its own files only. The browser runs as an
unprivileged user with a fresh profile; it is driven by its URL alone.

Usage: browser_test.py --browser chromium|firefox --web BUILD-WEB
                       --spatialmux BIN --make-movie BIN [--keep DIR]
Exit status 77: the browser (or the built page) is missing; the test skips.
"""

import argparse
import functools
import http.server
import json
import os
import pathlib
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import urllib.parse

SKIP = 77
HERE = pathlib.Path(__file__).resolve().parent


class Harness(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, web, fixtures, results):
        super().__init__(('127.0.0.1', 0), Handler)
        self.web, self.fixtures, self.results = web, fixtures, results
        self.log = []
        self.done = threading.Event()
        self.summary = None


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      '.js': 'text/javascript', '.wasm': 'application/wasm',
                      '.strings': 'text/plain; charset=utf-8'}

    def translate_path(self, path):
        path = urllib.parse.unquote(urllib.parse.urlsplit(path).path)
        for prefix, root in (('/test/', HERE), ('/fixtures/', self.server.fixtures)):
            if path.startswith(prefix):
                return str(pathlib.Path(root) / pathlib.PurePosixPath(path[len(prefix):]).name)
        return super().translate_path(path)

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=str(args[2].web), **kwargs)

    def do_GET(self):
        self.server.log.append(('GET', self.path, self.headers.get('Host', '')))
        super().do_GET()

    def do_POST(self):
        self.server.log.append(('POST', self.path, self.headers.get('Host', '')))
        body = self.rfile.read(int(self.headers.get('Content-Length', '0')))
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        if path.startswith('/results/'):
            (self.server.results / pathlib.PurePosixPath(path).name).write_bytes(body)
        elif path == '/done':
            self.server.summary = json.loads(body)
            self.server.done.set()
        else:
            self.send_error(404)
            return
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


def DropletRefusal(args, movie):
    """What the desktop's windowed converter says of a movie that is there in
    part: its alert.damaged, with the damage in --check's figures."""
    report = json.loads(subprocess.run([args.spatialmux, '--check', '--json', str(movie)],
                                       capture_output=True, text=True).stdout)
    assert report.get('cutShortAt'), report
    texts = dict(re.findall(r'^"([^"]+)" = "((?:[^"\\]|\\.)*)";',
                            (args.web / 'strings' / 'en.strings').read_text(), re.M))
    cause = (f'cut short at byte {movie.stat().st_size} '
             f'(its data reaches byte {report["cutShortAt"]})')
    return texts['alert.damaged'].replace('{cause}', cause)


def Browser(name):
    for program in {'chromium': ['chromium'], 'firefox': ['firefox-esr', 'firefox']}[name]:
        if shutil.which(program):
            return shutil.which(program)
    return None


def BrowserCommand(name, program, profile, url):
    if name == 'chromium':
        # No sandbox of Chromium's own: it needs a user namespace, which a
        # chroot (CI's fresh root) refuses, and the browser loads only the
        # test's own page, as an unprivileged user.
        return [program, '--headless', '--no-sandbox', '--disable-gpu',
                '--disable-background-networking',
                '--disable-component-update', '--disable-sync', '--no-first-run',
                '--no-default-browser-check', '--disable-default-apps', '--mute-audio',
                '--disable-features=Translate,MediaRouter,OptimizationHints',
                f'--user-data-dir={profile}', url]
    prefs = {
        'browser.shell.checkDefaultBrowser': False,
        'browser.startup.homepage_override.mstone': '"ignore"',
        'datareporting.policy.dataSubmissionEnabled': False,
        'toolkit.telemetry.enabled': False,
        'app.update.enabled': False,
        'app.normandy.enabled': False,
        'network.captive-portal-service.enabled': False,
        'network.connectivity-service.enabled': False,
        'browser.safebrowsing.malware.enabled': False,
        'browser.safebrowsing.phishing.enabled': False,
        'extensions.update.enabled': False,
        'media.autoplay.default': 0,
    }
    with open(os.path.join(profile, 'user.js'), 'w') as user:
        for key, value in prefs.items():
            user.write(f'user_pref("{key}", {json.dumps(value) if not isinstance(value, str) else value});\n')
    return [program, '--headless', '--no-remote', '--profile', profile, url]


def Unprivileged(profile):
    """Browsers refuse root: as root, the browser runs as nobody, its profile
    given to that user. The function that becomes nobody in the child, or
    None."""
    if os.geteuid() != 0:
        return None
    user = pwd.getpwnam('nobody')
    for path in [pathlib.Path(profile), *pathlib.Path(profile).iterdir()]:
        os.chown(path, user.pw_uid, user.pw_gid)

    def Become():
        os.setgid(user.pw_gid)
        os.setgroups([])
        os.setuid(user.pw_uid)
    return Become


def RunBrowser(name, program, url, harness, timeout):
    profile = tempfile.mkdtemp(prefix=f'spatialmux-{name}-')
    command = BrowserCommand(name, program, profile, url)
    environment = dict(os.environ, HOME=profile, TMPDIR=profile)
    environment.pop('DISPLAY', None)
    preexec = Unprivileged(profile)
    log = open(os.path.join(tempfile.gettempdir(), f'spatialmux-{name}-browser.log'), 'wb')
    browser = subprocess.Popen(command, env=environment, stdout=log, stderr=log,
                               preexec_fn=preexec, start_new_session=True)
    try:
        finished = harness.done.wait(timeout)
    finally:
        try:
            os.killpg(browser.pid, signal.SIGTERM)
            browser.wait(10)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            os.killpg(browser.pid, signal.SIGKILL)
            browser.wait()
        shutil.rmtree(profile, ignore_errors=True)
    return finished


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--browser', required=True, choices=['chromium', 'firefox'])
    parser.add_argument('--web', required=True, type=pathlib.Path)
    parser.add_argument('--spatialmux', required=True, type=os.path.abspath)
    parser.add_argument('--make-movie', required=True, type=os.path.abspath)
    parser.add_argument('--keep', type=pathlib.Path)
    parser.add_argument('--timeout', type=float, default=240)
    args = parser.parse_args()

    program = Browser(args.browser)
    if not program:
        print(f'SKIP: {args.browser} is not installed (tools/setup.sh --tests installs it)')
        return SKIP
    if not (args.web / 'index.html').is_file() or not (args.web / 'core').is_dir():
        print(f'SKIP: no page built in {args.web} (bash tools/build_web.sh builds it; it needs em++)')
        return SKIP

    work = pathlib.Path(tempfile.mkdtemp(prefix='spatialmux-web-test-'))
    fixtures, results, expected = work / 'fixtures', work / 'results', work / 'expected'
    for folder in (fixtures, results, expected):
        folder.mkdir()
    os.chmod(work, 0o755)
    failures = []
    try:
        Make = functools.partial(subprocess.run, check=True, stdout=subprocess.DEVNULL)
        Make([args.make_movie, '--seconds', '2', str(fixtures / 'R0010001.MP4')])
        Make([args.make_movie, '--foa', 'ambix', '--no-sa3d', '--seconds', '2',
              str(fixtures / 'undeclared.mov')])
        Make([args.make_movie, '--seconds', '2', '--hole', str(96 << 20),
              str(fixtures / 'R0010002.MP4')])
        whole = (fixtures / 'R0010001.MP4').read_bytes()
        (fixtures / 'R0010003.MP4').write_bytes(whole[:len(whole) * 2 // 3])
        plan = [
            {'file': 'R0010002.MP4', 'cancel': True},
            {'file': 'R0010001.MP4'},
            {'file': 'undeclared.mov', 'ambisonics': 'ambix', 'projection': 'equirectangular'},
            {'file': 'R0010003.MP4', 'damaged': True},
        ]
        (fixtures / 'plan.json').write_text(json.dumps(plan))

        # The desktop program's outputs and refusal.
        desktop = {}
        for step in plan:
            if step.get('cancel'):
                continue
            if step.get('damaged'):
                desktop[step['file']] = (1, DropletRefusal(args, fixtures / step['file']), None)
                continue
            command = [args.spatialmux]
            if step.get('ambisonics'):
                command += ['--ambisonics', step['ambisonics']]
            if step.get('projection'):
                command += ['--projection', step['projection']]
            # The name the desktop proposes: NAME.mov, or NAME-360.mov for a NAME.mov.
            source = pathlib.Path(step['file'])
            output = expected / (source.stem + ('-360' if source.suffix.lower() == '.mov' else '')
                                 + '.mov')
            run = subprocess.run(command + [str(fixtures / step['file']), str(output)],
                                 capture_output=True, text=True)
            desktop[step['file']] = (run.returncode, run.stdout + run.stderr, output)

        harness = Harness(args.web, fixtures, results)
        threading.Thread(target=harness.serve_forever, daemon=True).start()
        port = harness.server_address[1]
        url = f'http://127.0.0.1:{port}/test/run.html'
        if not RunBrowser(args.browser, program, url, harness, args.timeout):
            failures.append(f'the test page did not finish within {args.timeout:.0f} s')
            # What the browser said, for the reader of a failed run.
            browser_log = pathlib.Path(tempfile.gettempdir()) / f'spatialmux-{args.browser}-browser.log'
            if browser_log.exists():
                print(''.join(browser_log.read_text(errors='replace').splitlines(True)[-30:]))
        harness.shutdown()
        summary = harness.summary or {}
        print(f'{args.browser}: {summary.get("userAgent", "?")}')
        if summary.get('error'):
            failures.append(f'the test page failed: {summary["error"]}')
        steps = {step['file']: step for step in summary.get('steps', [])}

        for step in plan:
            name = step['file']
            got = steps.get(name)
            if got is None:
                failures.append(f'{name}: no result')
                continue
            if step.get('cancel'):
                if not (got.get('error') or {}).get('cancelled'):
                    failures.append(f'{name}: not cancelled: {got.get("error") or "converted"}')
                if got.get('entries'):
                    failures.append(f'{name}: private storage holds {got["entries"]} after Cancel')
                continue
            # The row's words: the page's check is the desktop's --check --json.
            report = json.loads(subprocess.run([args.spatialmux, '--check', '--json', name],
                                               cwd=fixtures, capture_output=True, text=True).stdout)
            if got.get('check') != report:
                failures.append(f'{name}: the page\'s check {got.get("check")} is not the '
                                f'desktop\'s {report}')
            status, text, output = desktop[name]
            if status == 0:
                if got.get('error'):
                    failures.append(f'{name}: the page failed: {got["error"]["message"]}')
                    continue
                if got.get('name') != output.name:
                    failures.append(f'{name}: output name {got.get("name")}, desktop {output.name}')
                produced = results / f'{name}.out'
                if not produced.exists() or produced.read_bytes() != output.read_bytes():
                    failures.append(f'{name}: the output differs from the desktop program\'s')
                else:
                    print(f'{name}: {produced.stat().st_size} bytes, equal to the desktop\'s')
            else:
                error = got.get('error') or {}
                if not error.get('refused'):
                    failures.append(f'{name}: not refused ({error or "converted"}); desktop: {text}')
                elif error.get('message') != text:
                    failures.append(f'{name}: refused with "{error.get("message")}", '
                                    f'the desktop with "{text}"')
                else:
                    print(f'{name}: refused as the desktop refuses it: {text}')
            if got.get('entries'):
                failures.append(f'{name}: private storage still holds {got["entries"]}')

        # Only the page's own files (and the test's own requests).
        served = {'/' + str(path.relative_to(args.web)) for path in args.web.rglob('*')
                  if path.is_file()}
        for method, path, host in harness.log:
            plain = urllib.parse.unquote(urllib.parse.urlsplit(path).path)
            if host != f'127.0.0.1:{port}':
                failures.append(f'a request for another host: {method} {host}{path}')
            elif plain.startswith(('/test/', '/fixtures/', '/results/')) or plain == '/done':
                continue
            elif plain not in served:
                failures.append(f'a request for something that is not the page\'s: {method} {path}')
        page_requests = sorted({p for m, p, h in harness.log
                                if not p.startswith(('/test/', '/fixtures/', '/results/', '/done'))})
        print(f'the page asked for: {" ".join(page_requests)}')
    finally:
        if args.keep:
            shutil.copytree(work, args.keep, dirs_exist_ok=True)
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print('FAIL:', failure)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
