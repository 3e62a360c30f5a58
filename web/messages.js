// What the page tells a person about each way a login can end.  The
// module's error texts are fixed and name no field, so each code is
// explained here.

/** JSON-RPC error codes: a title and what to do about it. */
const RPC_ERRORS = {
  '-32602': {
    title: 'The account details were refused',
    detail:
      'The appliance could not use what was sent: the host, port or access key is not valid, ' +
      'or the secret key did not decrypt with the appliance\'s key (for example when the ' +
      'appliance made a new key since this page was opened). Check the fields, reload the ' +
      'page and try again.',
  },
  '-32603': {
    title: 'The service refused the account or could not be reached',
    detail:
      'The appliance tried the account with the Quorvane service and did not get its version: ' +
      'the access key or the secret key is wrong, or nothing answers at that host and port, or ' +
      'the TLS setting does not match the service. Check them, and that the service is running.',
  },
  '-32600': {
    title: 'The appliance could not start the login',
    detail:
      'The request was not one the appliance could take, or it ran short of resources to start ' +
      'the login. Try again in a moment; if it keeps happening, tell the appliance\'s administrator.',
  },
  '-32601': {
    title: 'The appliance does not offer this login',
    detail:
      'The appliance\'s web service has no login method: the Quorvane module may not be loaded. ' +
      'Tell the appliance\'s administrator.',
  },
  '-32700': {
    title: 'The appliance could not read the request',
    detail:
      'The appliance\'s web service could not parse what this page sent. Reload the page and ' +
      'try again.',
  },
};

/** Explains a JSON-RPC error object {code, message}. */
export function explainRpcError(error) {
  const known = RPC_ERRORS[String(error.code)];
  const said = typeof error.message === 'string' ? ` The appliance said: "${error.message}"` : '';
  if (known) return { title: known.title, detail: known.detail + said, code: error.code };
  return {
    title: 'The login failed',
    detail: `The appliance answered with an error this page does not know.${said}`,
    code: error.code,
  };
}

/** HTTP statuses of the web service itself, before the login was tried. */
const HTTP_ERRORS = {
  403: {
    title: 'The web service refused this page\'s request',
    detail:
      'It takes logins only from the page it serves itself, to protect against other sites ' +
      'sending logins in your name. Open the login page from the appliance\'s own address.',
  },
  413: {
    title: 'The request was too large',
    detail: 'The web service takes only small requests. Shorten the fields and try again.',
  },
  415: {
    title: 'The web service did not accept the request\'s format',
    detail: 'It takes JSON only. Reload the page and try again.',
  },
  503: {
    title: 'The web service is busy',
    detail: 'It is handling as many logins as it can at once. Wait a moment and try again.',
  },
};

/** Explains an HTTP status other than 200 (and 204). */
export function explainHttpStatus(status, statusText) {
  const known = HTTP_ERRORS[status];
  const code = `HTTP ${status}${statusText ? ` ${statusText}` : ''}`;
  if (known) return { title: known.title, detail: known.detail, code };
  return {
    title: 'The web service answered with an error',
    detail: 'The login was not tried. Reload the page and try again.',
    code,
  };
}

/** The page could not reach the web service at all. */
export function explainNetworkError(what) {
  return {
    title: 'The appliance\'s web service could not be reached',
    detail:
      `The page could not ${what}: the web service may have stopped, or the connection to ` +
      'the appliance dropped. Check that it is running, reload the page and try again.',
    code: 'network error',
  };
}

/** A reply that is not the JSON-RPC answer to the request that was sent. */
export function explainBadReply(why) {
  return {
    title: 'The web service sent an answer the page cannot read',
    detail: `${why} Reload the page and try again.`,
    code: 'bad reply',
  };
}
