// Quillgate client for web pages: one ES module, no dependencies.
//
//   import { QuillgateClient, USER_LIST_SCRIPT } from "./quillgate.js";
//   const client = new QuillgateClient();
//   client.onPush((users) => console.log("devices changed, users:", users));
//   console.log("users:", await client.run(USER_LIST_SCRIPT));
//
// Quillgate answers each message in a frame of the message's kind and pushes only text frames.
// This client sends every script as a binary frame, so each binary frame is a reply and each text
// frame a push. Replies come in the order of the requests and carry no id: they are matched to
// requests first in, first out.

export const DEFAULT_URL = "ws://localhost:9656";

// The script function that reads the security control's user list.
export const USER_LIST_FUNCTION = 401;

// Reads the user list: one step, then the run ends.
export const USER_LIST_SCRIPT =
  "ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessNum{1}";

// The message that makes the service stop accepting connections. It gets no reply.
export const STOP_LISTENING = "stop-listening";

// A failed run() or a misuse of the client. code is one of:
//   "timeout"  no reply came within the timeout;
//   "closed"   the connection closed, or close() was called, before the reply came (the script
//              may or may not have run);
//   "invalid"  the request cannot be sent as a script (see run()).
export class QuillgateError extends Error {
  constructor(code, message) {
    super(message);
    this.name = "QuillgateError";
    this.code = code;
  }
}

function checkInteger(name, value) {
  if (!Number.isSafeInteger(value))
    throw new TypeError(`${name} must be an integer, not ${String(value)}`);
  return String(value);
}

// One step: "ProcessEntity-K{FunctionType[T]TrueNext[A]FalseNext[B]}". Next steps outside 1 to
// the step count (0, say) end the run.
export function processEntity(index, { functionType, trueNext = 0, falseNext = 0 }) {
  return (
    `ProcessEntity-${checkInteger("index", index)}{` +
    `FunctionType[${checkInteger("functionType", functionType)}]` +
    `TrueNext[${checkInteger("trueNext", trueNext)}]` +
    `FalseNext[${checkInteger("falseNext", falseNext)}]}`
  );
}

// The step count: "ProcessNum{N}".
export function processNum(count) {
  return `ProcessNum{${checkInteger("count", count)}}`;
}

// A whole script from steps given as { functionType, trueNext, falseNext }: steps[0] is step 1,
// where the run starts. buildScript([{ functionType: 401 }]) equals USER_LIST_SCRIPT.
export function buildScript(steps) {
  if (!Array.isArray(steps) || steps.length === 0)
    throw new TypeError("a script needs at least one step");
  return steps.map((step, i) => processEntity(i + 1, step)).join("") + processNum(steps.length);
}

const FAILURES = [
  [/^FunctionRes\[-1\]FunctionNotSucessAt\[(-?\d+)\]$/, "unknown-function"],
  [/^FunctionRes\[-1\]StepLimitReachedAt\[(-?\d+)\]$/, "step-limit"],
  [/^FunctionRes\[-1\]ResultTooLongAt\[(-?\d+)\]$/, "result-too-long"],
];

// What a result text says about a failed run, or null for the outputs of a run:
//   { reason: "no-step-count" }                 "-1": no usable ProcessNum
//   { reason: "unknown-function", step: K }     step K has no entry or names no known function
//   { reason: "step-limit", step: K }           the run would have gone past 1000 steps
//   { reason: "result-too-long", step: K }      the result grew too long at step K
// Outputs are free text: a user list that reads exactly like one of these cannot be told apart.
export function parseFailure(text) {
  if (text === "-1") return { reason: "no-step-count" };
  for (const [pattern, reason] of FAILURES) {
    const match = pattern.exec(text);
    if (match) return { reason, step: Number(match[1]) };
  }
  return null;
}

// The delay before reconnect attempt number `attempt` (0 for the first): minDelay doubled each
// time, never more than maxDelay.
export function retryDelay(attempt, minDelay, maxDelay) {
  return Math.min(maxDelay, minDelay * 2 ** Math.min(attempt, 52));
}

function report(error) {
  if (typeof reportError === "function") reportError(error);
  else setTimeout(() => { throw error; });
}

function notify(listeners, value) {
  for (const listener of [...listeners]) {
    try {
      listener(value);
    } catch (error) {
      report(error);
    }
  }
}

// A connection to Quillgate that reconnects by itself.
//
// States: "connecting", "open", "waiting" (the connection failed or closed; the next attempt
// comes after a delay that doubles from minRetryDelay up to maxRetryDelay and starts over once a
// connection opens) and "closed" (after close(); final).
//
// Options: url (DEFAULT_URL), timeout for run() in milliseconds (10000), minRetryDelay (500),
// maxRetryDelay (30000), and WebSocket (the constructor to use; the browser's by default).
export class QuillgateClient {
  #url;
  #timeout;
  #minRetryDelay;
  #maxRetryDelay;
  #WebSocket;
  #socket = null;
  #state = "connecting";
  #attempt = 0;
  #retryTimer = null;
  #held = []; // requests waiting for the connection to open
  #sent = []; // requests sent on the open connection, oldest first
  #stateListeners = new Set();
  #pushListeners = new Set();
  #encoder = new TextEncoder();
  #decoder = new TextDecoder("utf-8");

  constructor({
    url = DEFAULT_URL,
    timeout = 10000,
    minRetryDelay = 500,
    maxRetryDelay = 30000,
    WebSocket = globalThis.WebSocket,
  } = {}) {
    this.#url = url;
    this.#timeout = timeout;
    this.#minRetryDelay = minRetryDelay;
    this.#maxRetryDelay = Math.max(minRetryDelay, maxRetryDelay);
    this.#WebSocket = WebSocket;
    this.#connect();
  }

  get url() {
    return this.#url;
  }

  get state() {
    return this.#state;
  }

  // Calls listener({ state, attempt, retryIn }) on every change of state; retryIn is the delay in
  // milliseconds before the next attempt while "waiting". Returns a function that unsubscribes.
  onState(listener) {
    this.#stateListeners.add(listener);
    return () => this.#stateListeners.delete(listener);
  }

  // Calls listener(text) for every push: the user list after each USB arrival or removal (an
  // empty text when the list is empty). Returns a function that unsubscribes.
  onPush(listener) {
    this.#pushListeners.add(listener);
    return () => this.#pushListeners.delete(listener);
  }

  // Runs a script and resolves with its result text. While the connection is not open, the
  // request waits for it. Rejects with a QuillgateError: "timeout" when no reply came within the
  // timeout (from this call), "closed" when the connection closed first, "invalid" for the
  // message "stop-listening" (it gets no reply: use stopListening()).
  //
  // A request that timed out keeps its place in line: the service answers every message, in
  // order, so its reply still comes and is then dropped, and later replies still go to their own
  // requests. The requests behind a slow one wait for it, and may time out with it.
  run(script, { timeout = this.#timeout } = {}) {
    if (this.#state === "closed")
      return Promise.reject(new QuillgateError("closed", "the client is closed"));
    if (String(script) === STOP_LISTENING)
      return Promise.reject(
        new QuillgateError("invalid", "stop-listening gets no reply: use stopListening()"));
    const payload = this.#encoder.encode(String(script));
    return new Promise((resolve, reject) => {
      const request = { payload, resolve, reject, timedOut: false, timer: null };
      request.timer = setTimeout(() => this.#expire(request, timeout), timeout);
      if (this.#state === "open") this.#send(request);
      else this.#held.push(request);
    });
  }

  // Asks the service to stop accepting new connections; open ones are still answered. Nothing is
  // sent back. Returns false when the connection is not open.
  stopListening() {
    if (this.#state !== "open") return false;
    this.#socket.send(this.#encoder.encode(STOP_LISTENING));
    return true;
  }

  // Closes the connection for good and rejects every pending request with "closed".
  close() {
    if (this.#state === "closed") return;
    clearTimeout(this.#retryTimer);
    const socket = this.#socket;
    this.#socket = null;
    if (socket) socket.close(1000);
    this.#rejectAll([...this.#held, ...this.#sent], "the client was closed");
    this.#held = [];
    this.#sent = [];
    this.#setState("closed");
  }

  #connect() {
    this.#setState("connecting");
    const socket = new this.#WebSocket(this.#url);
    socket.binaryType = "arraybuffer";
    socket.onopen = () => this.#socket === socket && this.#opened();
    socket.onmessage = (event) => this.#socket === socket && this.#received(event.data);
    socket.onclose = () => this.#socket === socket && this.#closed();
    this.#socket = socket;
  }

  #opened() {
    this.#attempt = 0;
    this.#setState("open");
    const held = this.#held;
    this.#held = [];
    for (const request of held) this.#send(request);
  }

  #send(request) {
    this.#sent.push(request);
    this.#socket.send(request.payload);
  }

  #received(data) {
    if (typeof data === "string") {
      notify(this.#pushListeners, data);
      return;
    }
    const request = this.#sent.shift();
    if (!request || request.timedOut) return;
    clearTimeout(request.timer);
    request.resolve(this.#decoder.decode(data));
  }

  #closed() {
    this.#socket = null;
    const sent = this.#sent;
    this.#sent = [];
    this.#rejectAll(sent, "the connection closed before the reply came");
    const retryIn = retryDelay(this.#attempt, this.#minRetryDelay, this.#maxRetryDelay);
    this.#attempt += 1;
    this.#setState("waiting", retryIn);
    this.#retryTimer = setTimeout(() => this.#connect(), retryIn);
  }

  #expire(request, timeout) {
    const held = this.#held.indexOf(request);
    if (held >= 0) this.#held.splice(held, 1);
    else request.timedOut = true;
    request.reject(new QuillgateError("timeout", `no reply within ${timeout} ms`));
  }

  #rejectAll(requests, message) {
    for (const request of requests) {
      clearTimeout(request.timer);
      if (!request.timedOut) request.reject(new QuillgateError("closed", message));
    }
  }

  #setState(state, retryIn = 0) {
    this.#state = state;
    notify(this.#stateListeners, { state, attempt: this.#attempt, retryIn });
  }
}
