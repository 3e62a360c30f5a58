// The programs the page's tests run against, started on 127.0.0.1 with
// ephemeral ports and stopped by their PIDs: the web service agent
// (quorvane-host serve) with a throwaway appliance key, and the service
// emulator (quorvane-mock-service).  Every line either prints is kept, so
// that a test can look for a secret in them.

import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync, readFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';

const here = new URL('.', import.meta.url).pathname;
/** The build tree: QUORVANE_BUILD_DIR, or build/ of the checkout. */
export const buildDir = resolve(process.env.QUORVANE_BUILD_DIR || join(here, '..', '..', 'build'));
const bin = join(buildDir, 'bin');

// The account ./dev serve offers, so that the README's picture shows it.
export const ACCESS_KEY = 'DEMO-ACCESS-KEY';
export const SECRET = 'page test secret key, typed into a real browser';
export const VERSION = '7.1.0';

// How long a program may take to say where it listens; past it the test fails.
const START_DEADLINE_MS = 30000;

/** A running program: its output so far, its port, and stop(). */
class Program {
  constructor(name, args, env) {
    this.name = name;
    this.output = '';
    this.child = spawn(join(bin, name), args, { stdio: ['ignore', 'pipe', 'pipe'], env });
    this.exited = new Promise((done) => this.child.on('exit', (code, signal) => done({ code, signal })));
    for (const stream of [this.child.stdout, this.child.stderr]) {
      stream.setEncoding('utf8');
      stream.on('data', (text) => {
        this.output += text;
      });
    }
  }

  /** Waits for the "listening on 127.0.0.1:PORT" line; its port. */
  listening() {
    return new Promise((done, fail) => {
      const timer = setTimeout(() => fail(new Error(`${this.name} did not say where it listens:\n${this.output}`)),
        START_DEADLINE_MS);
      const look = () => {
        const seen = /^listening on 127\.0\.0\.1:([0-9]+)$/m.exec(this.output);
        if (!seen) return;
        clearTimeout(timer);
        this.port = Number(seen[1]);
        done(this.port);
      };
      this.child.stdout.on('data', look);
      this.exited.then(({ code, signal }) => {
        clearTimeout(timer);
        fail(new Error(`${this.name} exited (${code ?? signal}) before it listened:\n${this.output}`));
      });
      look();
    });
  }

  /** SIGTERM to its PID, then waits for it to end. */
  async stop() {
    if (this.child.exitCode === null && this.child.signalCode === null) {
      try {
        process.kill(this.child.pid, 'SIGTERM');
      } catch (e) {
        if (e.code !== 'ESRCH') throw e;  // it ended in the meantime
      }
    }
    return this.exited;
  }
}

/**
 * Starts the emulator (the account ACCESS_KEY / SECRET, version VERSION)
 * and the agent with a new appliance key in a folder of its own.
 * Returns {work, mock, serve, base, stop()}.
 */
export async function startServers(serveArgs = []) {
  const work = mkdtempSync(join(tmpdir(), 'quorvane-page-test-'));
  execFileSync(join(bin, 'quorvane-host'), ['keygen', '--out', work], { stdio: 'ignore' });
  // The secret reaches the emulator through a file only this user reads.
  writeFileSync(join(work, 'secret'), `${SECRET}\n`, { mode: 0o600 });
  // Neither program gets a proxy from the environment.
  const env = { PATH: process.env.PATH, LANG: 'C.UTF-8' };
  const mock = new Program('quorvane-mock-service', ['--listen', '127.0.0.1:0', '--access-key', ACCESS_KEY,
    '--secret-key-file', join(work, 'secret'), '--version', VERSION], env);
  const serve = new Program('quorvane-host', ['serve', '--key', join(work, 'appliance.key'),
    '--listen', '127.0.0.1:0', ...serveArgs], env);
  try {
    await Promise.all([mock.listening(), serve.listening()]);
  } catch (e) {
    await Promise.all([mock.stop(), serve.stop()]);
    rmSync(work, { recursive: true, force: true });
    throw e;
  }
  return {
    work,
    mock,
    serve,
    base: `http://127.0.0.1:${serve.port}`,
    publicKey: readFileSync(join(work, 'appliance.pub'), 'utf8'),
    async stop() {
      await Promise.all([mock.stop(), serve.stop()]);
      rmSync(work, { recursive: true, force: true });
    },
  };
}

/** A loopback port that nothing listens on (it was free a moment ago). */
export function closedPort() {
  return new Promise((done, fail) => {
    const probe = createServer();
    probe.on('error', fail);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => done(port));
    });
  });
}

/**
 * The forms a secret could take in a log line: as typed, in Base64, in
 * hexadecimal and percent-encoded; and of each ciphertext that carried it,
 * every 24 characters from each multiple of 24 on, so that any 48 of its
 * characters in a row are found.
 */
export function secretForms(secret, ciphertexts) {
  const bytes = Buffer.from(secret, 'utf8');
  const forms = [secret, bytes.toString('base64'), bytes.toString('hex'), encodeURIComponent(secret)];
  for (const ciphertext of ciphertexts) {
    for (let at = 0; at + 24 <= ciphertext.length; at += 24) forms.push(ciphertext.slice(at, at + 24));
  }
  return forms;
}
