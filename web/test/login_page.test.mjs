// The login page in a real browser (Debian's Chromium, headless, driven by
// playwright-core) against the web service agent and the service emulator:
// what a person sees for a good login and for each way one fails, that a
// page on another site cannot post a login, that the page runs under its
// Content-Security-Policy without a violation, and that no log holds the
// secret in any form.  The secret is encrypted by node-forge in the
// browser and decrypted by the module: the good login proves they agree.
//
// QUORVANE_LOGIN_SCREENSHOT=FILE saves the good login as a PNG (the
// README's picture).

import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { chromium } from 'playwright-core';

import { ACCESS_KEY, SECRET, VERSION, closedPort, secretForms, startServers } from './servers.mjs';

const WRONG_SECRET = 'a wrong secret key, typed in the browser';

let servers;
let profile;
let context;
let page;
const consoleLines = [];
const pageErrors = [];
const pageRequests = [];
const ciphertexts = [];

async function launch() {
  profile = mkdtempSync(join(tmpdir(), 'quorvane-chromium-'));
  return chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-proxy-server'],
    env: { PATH: process.env.PATH, HOME: profile },
    viewport: { width: 720, height: 820 },
  });
}

before(async () => {
  servers = await startServers();
  context = await launch();
  page = context.pages()[0] ?? (await context.newPage());
  page.on('console', (line) => consoleLines.push(`${line.type()}: ${line.text()}`));
  page.on('pageerror', (error) => pageErrors.push(String(error)));
  page.on('request', (request) => {
    pageRequests.push(request.url());
    if (request.method() === 'POST' && new URL(request.url()).pathname === '/rpc') {
      ciphertexts.push(request.postDataJSON().params.secret_key);
    }
  });
});

after(async () => {
  if (context) await context.close();
  if (profile) rmSync(profile, { recursive: true, force: true });
  if (servers) await servers.stop();
});

/** Opens the page, fills the form, submits it; what the page then shows. */
async function logIn({ host = '127.0.0.1', port = String(servers.mock.port), ssl = false, accessKey = ACCESS_KEY,
  secret = SECRET } = {}) {
  await page.goto(`${servers.base}/`);
  await page.fill('#host', host);
  await page.fill('#port', port);
  await page.setChecked('#ssl', ssl);
  await page.fill('#access-key', accessKey);
  await page.fill('#secret-key', secret);
  await page.click('#submit');
  await page.waitForSelector('#outcome.success, #outcome.failure');
  return {
    title: await page.textContent('#outcome .title'),
    detail: await page.textContent('#outcome .detail'),
    code: await page.textContent('#outcome .code'),
    secretField: await page.inputValue('#secret-key'),
  };
}

test('a good login shows the service version', async () => {
  const shown = await logIn();
  assert.equal(shown.title, 'Logged in');
  assert.match(shown.detail, new RegExp(`Its version is ${VERSION.replace(/\./g, '\\.')}\\.`));
  assert.equal(shown.secretField, '');
  // Nothing kept: no cookie, nothing in web storage.
  assert.deepEqual(await context.cookies(), []);
  assert.equal(await page.evaluate(() => localStorage.length + sessionStorage.length), 0);
  assert.equal(await page.getAttribute('#secret-key', 'autocomplete'), 'off');
  if (process.env.QUORVANE_LOGIN_SCREENSHOT) {
    await page.screenshot({ path: process.env.QUORVANE_LOGIN_SCREENSHOT, fullPage: true });
  }
});

test('a wrong secret key: the service refused the account', async () => {
  const shown = await logIn({ secret: WRONG_SECRET });
  assert.equal(shown.title, 'The service refused the account or could not be reached');
  assert.match(shown.detail, /the access key or the secret key is wrong/);
  assert.match(shown.detail, /"Failed to login Quorvane\."/);
  assert.equal(shown.code, 'Code: -32603');
  assert.equal(shown.secretField, '');
});

test('an unreachable service: the same code, and its explanation names it', async () => {
  const shown = await logIn({ port: String(await closedPort()) });
  assert.equal(shown.code, 'Code: -32603');
  assert.match(shown.detail, /nothing answers at that host and port/);
});

test('the page names the field it refuses, and sends nothing', async () => {
  const cases = [
    [{ port: '70000' }, 'port', 'Port', /from 1 to 65535/],
    [{ port: '0' }, 'port', 'Port', /from 1 to 65535/],
    [{ port: '' }, 'port', 'Port', /Enter the service port/],
    [{ host: '' }, 'host', 'Service host', /Enter the service host/],
    [{ host: 'cloud_1.example.com' }, 'host', 'Service host', /DNS name/],
    [{ accessKey: 'with space' }, 'access-key', 'Access key', /printable ASCII/],
    [{ accessKey: 'AK_/x' }, 'access-key', 'Access key', /"_\/"/],
    [{ secret: '' }, 'secret-key', 'Secret key', /Enter the secret key/],
    [{ secret: 'x'.repeat(246) }, 'secret-key', 'Secret key', /at most 245 bytes/],
  ];
  const posts = ciphertexts.length;
  for (const [account, field, label, message] of cases) {
    const shown = await logIn(account);
    const what = JSON.stringify(account).slice(0, 60);
    assert.equal(shown.title, `Check the field "${label}"`, what);
    assert.match(await page.textContent(`#${field}-error`), message, what);
    assert.equal(await page.getAttribute(`#${field}`, 'aria-invalid'), 'true', what);
    assert.equal(shown.secretField, '', what);
  }
  assert.equal(ciphertexts.length, posts, 'a refused form was posted');
});

test('a page on another site cannot post a login (403)', async () => {
  // The other site: a page with a form that posts a login to the agent
  // as soon as it loads, the classic cross-site request forgery.
  const login = JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'login', params: {} });
  const form = `<form method="post" enctype="text/plain" action="${servers.base}/rpc">` +
    `<input type="hidden" name='${login.slice(0, -1)}, "x": "' value='"}'></form>`;
  const site = createServer((req, res) => {
    res.writeHead(200, { 'Content-Type': 'text/html' });
    res.end(`<!DOCTYPE html><html><body>${form}</body></html>`);
  });
  await new Promise((done) => site.listen(0, '127.0.0.1', done));
  const other = await context.newPage();
  try {
    await other.goto(`http://127.0.0.1:${site.address().port}/`);
    const [reply] = await Promise.all([
      other.waitForEvent('response', (r) => r.url() === `${servers.base}/rpc`),
      other.evaluate(() => document.forms[0].submit()),
    ]);
    assert.equal(reply.status(), 403);
    assert.equal(reply.request().headers().origin, `http://127.0.0.1:${site.address().port}`);
    // A script there fares no better: its JSON post is refused too.
    // (from the other site again: the form's post left it)
    await other.waitForURL(`${servers.base}/rpc`);
    await other.goto(`http://127.0.0.1:${site.address().port}/`);
    const fetched = await other.evaluate(async (url) => {
      try {
        const r = await fetch(url, { method: 'POST', headers: { 'Content-Type': 'application/json' },
          body: '{"jsonrpc":"2.0","id":2,"method":"login","params":{}}' });
        return `status ${r.status}`;
      } catch (e) {
        return 'refused';
      }
    }, `${servers.base}/rpc`);
    assert.equal(fetched, 'refused');
  } finally {
    await other.close();
    site.closeAllConnections();
    await new Promise((done) => site.close(done));
  }
});

test('the page runs on its own origin\'s scripts only, without a violation', async () => {
  const reply = await page.goto(`${servers.base}/`);
  const headers = reply.headers();
  const csp = headers['content-security-policy'] ?? '';
  assert.match(csp, /script-src 'self'/);
  assert.match(csp, /default-src 'self'/);
  assert.doesNotMatch(csp, /unsafe-inline|unsafe-eval|\*/);
  assert.equal(headers['x-content-type-options'], 'nosniff');
  assert.match(headers['cache-control'] ?? '', /no-store/);
  const origin = new URL(servers.base).origin;
  for (const url of pageRequests) assert.equal(new URL(url).origin, origin, url);
  assert.deepEqual(pageErrors, []);
  assert.deepEqual(consoleLines.filter((line) => /^error:|Content.Security.Policy|Refused to/i.test(line)), []);
});

test('no log of the agent, the module or the emulator holds a secret', async () => {
  await servers.serve.stop();
  await servers.mock.stop();
  assert.ok(ciphertexts.length >= 3, 'the page posted fewer logins than the tests made');
  const logs = { 'quorvane-host serve (and the module)': servers.serve.output, 'quorvane-mock-service': servers.mock.output };
  for (const secret of [SECRET, WRONG_SECRET]) {
    for (const form of secretForms(secret, ciphertexts)) {
      for (const [name, log] of Object.entries(logs)) {
        assert.ok(!log.includes(form), `${name}'s log holds a secret: ${form.slice(0, 24)}...`);
      }
    }
  }
});
