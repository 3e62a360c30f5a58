// What the login page checks before it sends anything: the same rules the
// module applies to the account's host, port and access key, so that a
// mistake is named with its field here instead of coming back as a bare
// "Invalid params".  No browser API is used, so Node's tests load this file
// as it is.

const DNS_LABEL_MAX = 63;
const DNS_NAME_MAX = 253;

const LETTER = /^[A-Za-z]$/;
const LABEL = /^[A-Za-z0-9](?:[A-Za-z0-9-]*[A-Za-z0-9])?$/;

// RFC 1123 host names whose last label starts with a letter: an all-numeric
// name such as "127.1" would be read as an IPv4 address in shorthand, which
// the module refuses.
function isDnsName(host) {
  if (host.length === 0 || host.length > DNS_NAME_MAX) return false;
  const labels = host.split('.');
  for (const label of labels) {
    if (label.length > DNS_LABEL_MAX || !LABEL.test(label)) return false;
  }
  return LETTER.test(labels[labels.length - 1][0]);
}

// Four decimal numbers 0 to 255, without leading zeros (as inet_pton).
const OCTET = '(?:25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9][0-9]|[0-9])';
const IPV4 = new RegExp(`^${OCTET}(?:\\.${OCTET}){3}$`);

function isIpv4(host) {
  return IPV4.test(host);
}

const HEX_GROUP = /^[0-9A-Fa-f]{1,4}$/;

// Groups of 1 to 4 hexadecimal digits separated by ':', with one '::'
// standing for one or more zero groups, the last 32 bits possibly in IPv4
// form; no zone index.
function isIpv6Address(text) {
  const halves = text.split('::');
  if (halves.length > 2) return false;
  const groups = [];
  for (const half of halves) groups.push(half === '' ? [] : half.split(':'));
  const all = groups.flat();
  let count = all.length;
  for (let i = 0; i < all.length; i += 1) {
    const last = i === all.length - 1;
    if (last && isIpv4(all[i]) && (halves.length === 1 || groups[1].length > 0)) {
      count += 1;  // an IPv4 tail stands for two groups
    } else if (!HEX_GROUP.test(all[i])) {
      return false;
    }
  }
  return halves.length === 2 ? count <= 7 : count === 8;
}

function isIpv6(host) {
  const bare = host.length >= 2 && host.startsWith('[') && host.endsWith(']') ? host.slice(1, -1) : host;
  return isIpv6Address(bare);
}

/** True when @p host is a DNS name, an IPv4 address or an IPv6 address (bare or in brackets). */
export function isHost(host) {
  return isDnsName(host) || isIpv4(host) || isIpv6(host);
}

/** The port as a number when @p text is a whole number from 1 to 65535, else null. */
export function parsePort(text) {
  if (!/^[0-9]{1,5}$/.test(text)) return null;
  const port = Number(text);
  return port >= 1 && port <= 65535 ? port : null;
}

/** True when @p key has only printable ASCII characters, no space, and no "_/". */
export function isAccessKey(key) {
  if (key.includes('_/')) return false;
  for (let i = 0; i < key.length; i += 1) {
    const c = key.charCodeAt(i);
    if (c <= 0x20 || c >= 0x7f) return false;
  }
  return true;
}

/** The number of bytes @p text takes in UTF-8. */
export function utf8Length(text) {
  return new TextEncoder().encode(text).length;
}

/**
 * Checks the form's values.  Returns null when they can be sent, or
 * {field, message} naming the first field that cannot.  @p secretMax is the
 * most bytes the appliance key can encrypt (null while it is not known).
 */
export function checkAccount({ host, port, accessKey, secret }, secretMax) {
  if (host === '') return { field: 'host', message: 'Enter the service host.' };
  if (!isHost(host)) {
    return {
      field: 'host',
      message:
        'The service host must be a DNS name (such as cloud.example.com), an IPv4 address ' +
        '(such as 192.0.2.10) or an IPv6 address (such as 2001:db8::1 or [2001:db8::1]).',
    };
  }
  if (port === '') return { field: 'port', message: 'Enter the service port.' };
  if (parsePort(port) === null) {
    return { field: 'port', message: 'The port must be a whole number from 1 to 65535.' };
  }
  if (accessKey === '') return { field: 'access-key', message: 'Enter the access key.' };
  if (!isAccessKey(accessKey)) {
    return {
      field: 'access-key',
      message:
        'The access key may hold only printable ASCII characters, without spaces, and not the ' +
        'pair "_/".',
    };
  }
  if (secret === '') return { field: 'secret-key', message: 'Enter the secret key.' };
  if (secretMax !== null && utf8Length(secret) > secretMax) {
    return {
      field: 'secret-key',
      message: `The secret key is too long: the appliance's key can carry at most ${secretMax} bytes.`,
    };
  }
  return null;
}
