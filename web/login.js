// The login page: checks the account, encrypts the secret key with the
// appliance's public key (RSAES-PKCS1-v1_5, node-forge: the browser's Web
// Crypto has no PKCS #1 v1.5 encryption), sends the JSON-RPC login to the
// web service agent and tells what came of it.
//
// The secret key leaves the page only encrypted and is kept nowhere: not in
// a cookie, not in web storage, and its field is emptied after each try.

import { checkAccount } from './checks.js';
import { explainBadReply, explainHttpStatus, explainNetworkError, explainRpcError } from './messages.js';

/* global forge */

// RSAES-PKCS1-v1_5 pads the message with at least 11 bytes.
const PKCS1_OVERHEAD = 11;

const form = document.getElementById('login');
const button = document.getElementById('submit');
const outcome = document.getElementById('outcome');
const fields = ['host', 'port', 'access-key', 'secret-key'];
let nextId = 1;

function field(name) {
  return document.getElementById(name);
}

function clearFieldErrors() {
  for (const name of fields) {
    field(name).removeAttribute('aria-invalid');
    const note = document.getElementById(`${name}-error`);
    note.textContent = '';
    note.hidden = true;
  }
}

function showFieldError({ field: name, message }) {
  const note = document.getElementById(`${name}-error`);
  note.textContent = message;
  note.hidden = false;
  field(name).setAttribute('aria-invalid', 'true');
  const label = document.querySelector(`label[for="${name}"]`).textContent;
  show('failure', { title: `Check the field "${label}"`, detail: message, code: null });
  field(name).focus();
}

// Shows one outcome.  Every text goes in as text, never as markup: the
// version and the error messages come from the network.
function show(kind, { title, detail, code }) {
  outcome.className = `outcome ${kind}`;
  outcome.querySelector('.title').textContent = title;
  outcome.querySelector('.detail').textContent = detail;
  const codeLine = outcome.querySelector('.code');
  codeLine.textContent = code === null ? '' : `Code: ${code}`;
  codeLine.hidden = code === null;
  outcome.hidden = false;
}

async function fetchPublicKey() {
  let reply;
  try {
    reply = await fetch('appliance.pub', { cache: 'no-store', credentials: 'omit' });
  } catch (e) {
    throw explainNetworkError('fetch the appliance\'s public key');
  }
  if (!reply.ok) throw explainHttpStatus(reply.status, reply.statusText);
  let key;
  try {
    key = forge.pki.publicKeyFromPem(await reply.text());
  } catch (e) {
    throw explainBadReply('The appliance\'s public key is not an RSA public key in PEM form.');
  }
  return key;
}

function encryptSecret(key, secret) {
  const ciphertext = key.encrypt(forge.util.encodeUtf8(secret), 'RSAES-PKCS1-V1_5');
  return forge.util.encode64(ciphertext);
}

async function postLogin(request) {
  let reply;
  try {
    reply = await fetch('rpc', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', Accept: 'application/json' },
      body: JSON.stringify(request),
      cache: 'no-store',
      credentials: 'omit',
    });
  } catch (e) {
    throw explainNetworkError('send the login to the appliance\'s web service');
  }
  if (reply.status !== 200) throw explainHttpStatus(reply.status, reply.statusText);
  let answer;
  try {
    answer = await reply.json();
  } catch (e) {
    throw explainBadReply('The answer is not JSON.');
  }
  if (answer === null || typeof answer !== 'object' || answer.jsonrpc !== '2.0' || answer.id !== request.id) {
    throw explainBadReply('The answer is not the JSON-RPC reply to this login.');
  }
  return answer;
}

function showAnswer(answer) {
  const { result, error } = answer;
  if (error && typeof error === 'object' && typeof error.code === 'number') {
    show('failure', explainRpcError(error));
  } else if (result && typeof result === 'object' && typeof result.version === 'string') {
    show('success', {
      title: 'Logged in',
      detail: `The Quorvane service accepted the account. Its version is ${result.version}.`,
      code: null,
    });
  } else {
    show('failure', explainBadReply('The answer carries neither a version nor an error.'));
  }
}

async function logIn(account) {
  if (typeof forge === 'undefined') throw explainBadReply('The page\'s encryption library did not load.');
  const key = await fetchPublicKey();
  const secretMax = key.n.bitLength() / 8 - PKCS1_OVERHEAD;
  const problem = checkAccount(account, Math.floor(secretMax));
  if (problem) return showFieldError(problem);
  const request = {
    jsonrpc: '2.0',
    id: nextId,
    method: 'login',
    params: {
      host: account.host,
      port: Number(account.port),
      ssl: account.ssl,
      access_key: account.accessKey,
      secret_key: encryptSecret(key, account.secret),
    },
  };
  nextId += 1;
  show('pending', { title: 'Logging in…', detail: `Asking the service at ${account.host}.`, code: null });
  return showAnswer(await postLogin(request));
}

async function onSubmit(event) {
  event.preventDefault();
  clearFieldErrors();
  const account = {
    host: field('host').value.trim(),
    port: field('port').value.trim(),
    ssl: field('ssl').checked,
    accessKey: field('access-key').value.trim(),
    secret: field('secret-key').value,
  };
  // Emptied at once, whatever follows: the secret is typed again for each try.
  field('secret-key').value = '';
  const problem = checkAccount(account, null);
  if (problem) return showFieldError(problem);
  button.disabled = true;
  form.setAttribute('aria-busy', 'true');
  try {
    await logIn(account);
  } catch (explained) {
    if (explained && typeof explained.title === 'string') show('failure', explained);
    else show('failure', explainBadReply(`The page failed: ${explained}.`));
  } finally {
    account.secret = '';
    button.disabled = false;
    form.removeAttribute('aria-busy');
  }
  return undefined;
}

form.addEventListener('submit', onSubmit);
button.disabled = false;
