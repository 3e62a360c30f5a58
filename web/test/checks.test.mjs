// The page's own checks of the service host, against the module's rules
// (quorvane/common/credential_checks.cpp): what one accepts the other must.

import { test } from 'node:test';
import assert from 'node:assert/strict';

import { isAccessKey, isHost } from '../checks.js';

test('host names and addresses the module takes', () => {
  const long = `${'a'.repeat(63)}.${'b'.repeat(63)}.${'c'.repeat(63)}.${'d'.repeat(61)}`;
  for (const host of ['cloud.example.com', 'Cloud-1.Example.COM', 'localhost', 'a', '1a.b2', long,
    '192.0.2.10', '0.0.0.0', '255.255.255.255', '::', '::1', '2001:db8::1', '[2001:db8::1]',
    '1:2:3:4:5:6:7:8', '1:2:3:4:5:6:7::', '::ffff:192.0.2.1', '1:2:3:4:5:6:192.0.2.1', 'fe80::ABCD']) {
    assert.ok(isHost(host), host);
  }
});

test('host names and addresses the module refuses', () => {
  for (const host of ['', 'cloud_1.example.com', '-a.example', 'a-.example', 'a..b', 'example.com.', '127.1',
    '0x7f000001', 'example.123', 'example.1a', `${'a'.repeat(64)}.com`, `${'a.'.repeat(126)}ab`,
    '256.0.0.1', '01.2.3.4', '1.2.3', '1.2.3.4.5', ':::', '1:::2', ':1::', '1:2:3:4:5:6:7:8::',
    '1:2:3:4:5:6:7', '12345::', 'fe80::1%eth0', '[::1', '::1]', '1.2.3.4::', 'g::1', 'a b']) {
    assert.ok(!isHost(host), host);
  }
});

test('access keys: printable ASCII, no space, no "_/"', () => {
  for (const key of ['AK', 'a_b/c', '~!@#$%^&*()', 'A/_B']) assert.ok(isAccessKey(key), key);
  for (const key of ['a b', 'a_/b', 'tab\there', 'caf\u00e9', 'del\u007f']) assert.ok(!isAccessKey(key), key);
});
