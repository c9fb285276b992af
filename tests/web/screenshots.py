#!/usr/bin/env python3
"""Pictures of the browser edition's page in headless Chromium.

Drives the page over the DevTools protocol on a pipe (--remote-debugging-pipe:
no port, no download) and saves PNGs of: the drop zone, a row that asks for
AmbiX or FuMa, a conversion in progress, the result with Save, and the page
in Japanese.

Usage: screenshots.py --web BUILD-WEB --make-movie BIN --out DIR
"""

import argparse
import base64
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import browser_test  # noqa: E402


class DevTools:
    def __init__(self, command, preexec, environment):
        read_chrome, write_ours = os.pipe()
        read_ours, write_chrome = os.pipe()

        def child():
            os.dup2(read_chrome, 3)
            os.dup2(write_chrome, 4)
            if preexec:
                preexec()
        self.process = subprocess.Popen(command + ['--remote-debugging-pipe'], env=environment,
                                        close_fds=False, preexec_fn=child,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        os.close(read_chrome)
        os.close(write_chrome)
        self.out = os.fdopen(write_ours, 'wb')
        self.inp = os.fdopen(read_ours, 'rb')
        self.next = 0
        self.session = None

    def Call(self, method, **params):
        self.next += 1
        message = {'id': self.next, 'method': method, 'params': params}
        if self.session and not method.startswith('Target.'):
            message['sessionId'] = self.session
        self.out.write(json.dumps(message).encode() + b'\0')
        self.out.flush()
        buffer = b''
        while True:
            chunk = b''
            while not chunk.endswith(b'\0'):
                byte = self.inp.read(1)
                if not byte:
                    raise RuntimeError('the browser went away')
                chunk += byte
            answer = json.loads(chunk[:-1])
            if answer.get('id') == self.next:
                if 'error' in answer:
                    raise RuntimeError(f'{method}: {answer["error"]}')
                return answer.get('result', {})

    def Attach(self):
        for _ in range(100):
            pages = [t for t in self.Call('Target.getTargets')['targetInfos'] if t['type'] == 'page']
            if pages:
                break
            time.sleep(0.1)
        self.session = self.Call('Target.attachToTarget', targetId=pages[0]['targetId'],
                                 flatten=True)['sessionId']

    def Evaluate(self, expression):
        result = self.Call('Runtime.evaluate', expression=expression, awaitPromise=True,
                           returnByValue=True)
        if 'exceptionDetails' in result:
            raise RuntimeError(json.dumps(result['exceptionDetails'])[:800])
        return result.get('result', {}).get('value')

    def Wait(self, condition, timeout=60):
        end = time.time() + timeout
        while time.time() < end:
            if self.Evaluate(condition):
                return
            time.sleep(0.02)
        raise RuntimeError(f'timed out waiting for {condition}')

    def Shot(self, path):
        data = self.Call('Page.captureScreenshot', format='png', captureBeyondViewport=True)
        pathlib.Path(path).write_bytes(base64.b64decode(data['data']))
        print('wrote', path)


def StartChromium(web, fixtures, *flags):
    """Serves `web` (and `fixtures` under /fixtures/) and starts headless
    Chromium on its DevTools pipe, attached to its page; `Stop` ends both."""
    harness = browser_test.Harness(web, fixtures, fixtures)
    threading.Thread(target=harness.serve_forever, daemon=True).start()
    profile = tempfile.mkdtemp(prefix='spatialmux-devtools-')
    command = browser_test.BrowserCommand('chromium', browser_test.Browser('chromium'), profile,
                                          'about:blank')
    command[1:1] = flags
    tools = DevTools(command, browser_test.Unprivileged(profile), dict(os.environ, HOME=profile))
    tools.base = f'http://127.0.0.1:{harness.server_address[1]}'

    def Stop():
        tools.process.terminate()
        tools.process.wait()
        harness.shutdown()
        shutil.rmtree(profile, ignore_errors=True)
    tools.Stop = Stop
    tools.Attach()
    return tools


def Choose(tools, *paths):
    """Movies chosen through the page's own file input, as a user chooses them."""
    root = tools.Call('DOM.getDocument')['root']['nodeId']
    node = tools.Call('DOM.querySelector', nodeId=root, selector='#files')['nodeId']
    tools.Call('DOM.setFileInputFiles', files=[str(path) for path in paths], nodeId=node)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--web', required=True, type=pathlib.Path)
    parser.add_argument('--make-movie', required=True)
    parser.add_argument('--out', required=True, type=pathlib.Path)
    args = parser.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)
    fixtures = pathlib.Path(tempfile.mkdtemp(prefix='spatialmux-shots-'))
    os.chmod(fixtures, 0o755)
    subprocess.run([args.make_movie, '--sample', str(fixtures / 'R0010042.MP4')], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([args.make_movie, '--foa', 'ambix', '--no-sa3d', '--no-uuid', '--seconds', '3',
                    str(fixtures / 'interview-360.mov')], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([args.make_movie, '--seconds', '240', '--size', '256x128',
                    str(fixtures / 'R0010043.MP4')], check=True, stdout=subprocess.DEVNULL)

    tools = StartChromium(args.web, fixtures, '--lang=en-US', '--window-size=900,900')
    base = tools.base
    try:
        tools.Call('Page.enable')
        tools.Call('Emulation.setDeviceMetricsOverride', width=900, height=900,
                   deviceScaleFactor=1, mobile=False)

        def Open(query=''):
            tools.Call('Page.navigate', url=f'{base}/index.html{query}')
            tools.Wait("document.body && document.body.dataset.ready === 'true'")

        Open('?lang=en')
        tools.Shot(args.out / 'web-drop-zone.png')

        Choose(tools, fixtures / 'interview-360.mov')
        tools.Wait("!!document.querySelector('.row-ready fieldset')")
        tools.Evaluate("document.querySelector('.row input[value=ambix]').focus()")
        tools.Shot(args.out / 'web-choice.png')

        tools.Evaluate("document.querySelector('.row .remove').click()")
        Choose(tools, fixtures / 'R0010043.MP4')
        tools.Wait("!!document.querySelector('.row-ready .convert')")
        tools.Evaluate("document.querySelector('.row-ready .convert').click()")
        tools.Wait("(() => { const p = document.querySelector('progress');"
                   " return p && p.value >= 30 && /left|残り/.test(document.querySelector('.state').textContent); })()",
                   timeout=120)
        tools.Shot(args.out / 'web-progress.png')
        tools.Wait("!!document.querySelector('.row-converted, .row-failed')", timeout=300)
        print(tools.Evaluate("document.querySelector('.row .state').textContent"))
        tools.Shot(args.out / 'web-result.png')

        Open('?lang=ja')
        Choose(tools, fixtures / 'R0010042.MP4', fixtures / 'interview-360.mov')
        tools.Wait("document.querySelectorAll('.row-ready').length === 2")
        tools.Evaluate("document.querySelector('.row-ready .convert').click()")
        tools.Wait("!!document.querySelector('.row-converted .save')", timeout=120)
        tools.Shot(args.out / 'web-japanese.png')
    finally:
        tools.Stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
