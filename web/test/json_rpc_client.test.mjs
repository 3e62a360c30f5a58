// The web service agent's /rpc as a JSON-RPC 2.0 client library that no
// one here wrote (json-rpc-2.0) sees it: a login, a batch and a
// notification, each over HTTP as a browser would send it.

import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';

import forge from 'node-forge';
import { JSONRPCClient, createJSONRPCRequest } from 'json-rpc-2.0';

import { ACCESS_KEY, SECRET, VERSION, startServers } from './servers.mjs';

let servers;
let client;
let statuses;  // the HTTP status of every POST, in order
let sends;  // the promise of every POST

function encrypt(secret) {
  const key = forge.pki.publicKeyFromPem(servers.publicKey);
  return forge.util.encode64(key.encrypt(forge.util.encodeUtf8(secret), 'RSAES-PKCS1-V1_5'));
}

function account(secret = SECRET) {
  return { host: '127.0.0.1', port: servers.mock.port, ssl: false, access_key: ACCESS_KEY,
    secret_key: encrypt(secret) };
}

async function post(payload) {
  const reply = await fetch(`${servers.base}/rpc`, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', Origin: servers.base },
    body: JSON.stringify(payload),
  });
  statuses.push(reply.status);
  if (reply.status === 200) {
    assert.match(reply.headers.get('content-type'), /^application\/json\b/);
    client.receive(await reply.json());
  } else if (reply.status !== 204) {
    throw new Error(`HTTP ${reply.status}: ${await reply.text()}`);
  }
}

before(async () => {
  servers = await startServers();
  statuses = [];
  sends = [];
  client = new JSONRPCClient((payload) => {
    const sent = post(payload);
    sends.push(sent);
    return sent;
  });
});

after(async () => {
  if (servers) await servers.stop();
});

test('a login answers with the service version', async () => {
  const result = await client.request('login', account());
  assert.deepEqual(result, { code: 0, message: 'Success to login', version: VERSION });
});

test('a batch gets one reply for each request, matched by id', async () => {
  const good = createJSONRPCRequest(101, 'login', account());
  const wrongSecret = createJSONRPCRequest(102, 'login', account('not the secret'));
  const notEncrypted = createJSONRPCRequest(103, 'login', { ...account(), secret_key: 'plain text' });
  const unknown = createJSONRPCRequest(104, 'logout', {});
  const replies = await client.requestAdvanced([good, wrongSecret, notEncrypted, unknown]);
  const byId = new Map(replies.map((reply) => [reply.id, reply]));
  assert.equal(replies.length, 4);
  assert.equal(byId.get(101).result.version, VERSION);
  assert.equal(byId.get(102).error.code, -32603);
  assert.equal(byId.get(103).error.code, -32602);
  assert.equal(byId.get(104).error.code, -32601);
  for (const reply of replies) assert.equal(reply.jsonrpc, '2.0');
});

test('a notification gets no reply (HTTP 204)', async () => {
  const before = statuses.length;
  client.notify('login', account());
  // notify keeps the send's promise to itself.
  await sends[sends.length - 1];
  assert.deepEqual(statuses.slice(before), [204]);
});
