// Cases of the JavaScript client against a fake WebSocket the case drives by hand. Each result goes
// to the console for the browser test: "quillgate-check case NAME pass|fail MESSAGE", then
// "quillgate-check done PASSED FAILED"; values URI-encoded.

import {
  QuillgateClient,
  QuillgateError,
  STOP_LISTENING,
  USER_LIST_SCRIPT,
  buildScript,
  parseFailure,
  processEntity,
  processNum,
  retryDelay,
} from "../../clients/js/quillgate.js";

function say(what, ...values) {
  console.log(["quillgate-check", what, ...values.map((v) => encodeURIComponent(v))].join(" "));
}

function check(condition, message) {
  if (!condition) throw new Error(message);
}

function same(actual, expected, what) {
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  check(a === e, `${what}: got ${a}, expected ${e}`);
}

const bytes = (text) => Array.from(new TextEncoder().encode(text));

// A WebSocket class whose sockets the case opens, feeds and drops itself.
function fakeServer() {
  const sockets = [];
  const waiting = [];
  class FakeSocket {
    constructor(url) {
      this.url = url;
      this.sent = [];
      this.closedWith = null;
      sockets.push(this);
      waiting.splice(0).forEach((resolve) => resolve(this));
    }
    send(data) {
      this.sent.push(data);
    }
    close(code) {
      this.closedWith = code;
    }
    open() {
      this.onopen?.({});
    }
    reply(text) {
      this.onmessage?.({ data: new TextEncoder().encode(text).buffer });
    }
    push(text) {
      this.onmessage?.({ data: text });
    }
    drop() {
      this.onclose?.({ code: 1006 });
    }
  }
  return {
    WebSocket: FakeSocket,
    sockets,
    latest: () => sockets[sockets.length - 1],
    // The socket made after the n sockets so far, once the client makes it.
    socket: (n) =>
      n < sockets.length ? Promise.resolve(sockets[n]) : new Promise((r) => waiting.push(r)),
  };
}

function connected(options = {}) {
  const server = fakeServer();
  const states = [];
  const client = new QuillgateClient({ WebSocket: server.WebSocket, ...options });
  client.onState((change) => states.push(change));
  return { server, client, states };
}

async function rejection(promise) {
  try {
    await promise;
  } catch (error) {
    return error;
  }
  throw new Error("the promise was fulfilled");
}

const cases = {
  "scripts are built step by step"() {
    const table = [
      [buildScript([{ functionType: 401 }]), USER_LIST_SCRIPT],
      [processEntity(2, { functionType: 401, trueNext: 3 }),
        "ProcessEntity-2{FunctionType[401]TrueNext[3]FalseNext[0]}"],
      [processEntity(1, { functionType: 7, trueNext: -1, falseNext: 2 }),
        "ProcessEntity-1{FunctionType[7]TrueNext[-1]FalseNext[2]}"],
      [processNum(3), "ProcessNum{3}"],
      [buildScript([{ functionType: 401, trueNext: 2 }, { functionType: 401, falseNext: 1 }]),
        "ProcessEntity-1{FunctionType[401]TrueNext[2]FalseNext[0]}" +
        "ProcessEntity-2{FunctionType[401]TrueNext[0]FalseNext[1]}ProcessNum{2}"],
    ];
    table.forEach(([built, expected], i) => same(built, expected, `row ${i}`));
    const wrong = [
      () => processNum(1.5),
      () => processNum("1"),
      () => processEntity(1, { functionType: NaN }),
      () => processEntity(1, {}),
      () => buildScript([]),
      () => buildScript("ProcessNum{1}"),
    ];
    wrong.forEach((make, i) => {
      let thrown = null;
      try {
        make();
      } catch (error) {
        thrown = error;
      }
      check(thrown instanceof TypeError, `wrong input ${i} was not refused`);
    });
  },

  "failure results are recognised and outputs are not"() {
    const table = [
      ["-1", { reason: "no-step-count" }],
      ["FunctionRes[-1]FunctionNotSucessAt[3]", { reason: "unknown-function", step: 3 }],
      ["FunctionRes[-1]StepLimitReachedAt[1]", { reason: "step-limit", step: 1 }],
      ["FunctionRes[-1]ResultTooLongAt[12]", { reason: "result-too-long", step: 12 }],
      ["alice\n", null],
      ["", null],
      ["-1\n", null],
      ["alice\nFunctionRes[-1]StepLimitReachedAt[1]", null],
    ];
    for (const [text, expected] of table) same(parseFailure(text), expected, JSON.stringify(text));
  },

  "the retry delay doubles up to its cap"() {
    const table = [[0, 500], [1, 1000], [2, 2000], [5, 16000], [6, 30000], [60, 30000], [5000, 30000]];
    for (const [attempt, delay] of table)
      same(retryDelay(attempt, 500, 30000), delay, `attempt ${attempt}`);
  },

  async "a request is a binary frame of UTF-8 bytes and its reply is decoded as UTF-8"() {
    const { server, client } = connected({ url: "ws://[::1]:9656" });
    same(server.latest().url, "ws://[::1]:9656", "address");
    server.latest().open();
    const reply = client.run("读 " + USER_LIST_SCRIPT);
    const sent = server.latest().sent;
    check(sent.length === 1 && typeof sent[0] !== "string", "not sent as binary");
    same(Array.from(sent[0]), bytes("读 " + USER_LIST_SCRIPT), "request bytes");
    server.latest().reply("张三\nRenée\n");
    same(await reply, "张三\nRenée\n", "reply");
  },

  async "replies go to requests in order and text frames to push listeners"() {
    const { server, client } = connected();
    const socket = server.latest();
    socket.open();
    const pushes = [];
    const other = [];
    client.onPush((text) => pushes.push(text));
    const unsubscribe = client.onPush((text) => other.push(text));
    const replies = ["a", "b", "c"].map((script) => client.run(script));
    socket.push("first push");
    socket.reply("A");
    unsubscribe();
    socket.push("");
    socket.reply("B");
    socket.reply("C");
    same(await Promise.all(replies), ["A", "B", "C"], "replies");
    same(pushes, ["first push", ""], "pushes");
    same(other, ["first push"], "pushes after unsubscribing");
  },

  async "a timed-out request takes its late reply so later replies stay matched"() {
    const { server, client } = connected();
    const socket = server.latest();
    socket.open();
    const slow = client.run("slow", { timeout: 1 });
    const next = client.run("next", { timeout: 60000 });
    const error = await rejection(slow);
    check(error instanceof QuillgateError && error.code === "timeout", `slow: ${error}`);
    socket.reply("late reply of slow");
    socket.reply("reply of next");
    same(await next, "reply of next", "next");
  },

  async "requests wait for the connection to open"() {
    const { server, client } = connected();
    const reply = client.run("early");
    same(server.latest().sent.length, 0, "sent before opening");
    server.latest().open();
    same(server.latest().sent.map((data) => Array.from(data)), [bytes("early")], "sent on open");
    server.latest().reply("answer");
    same(await reply, "answer", "reply");
  },

  async "a request that times out while waiting is never sent"() {
    const { server, client } = connected();
    const error = await rejection(client.run("early", { timeout: 1 }));
    same(error.code, "timeout", "code");
    server.latest().open();
    same(server.latest().sent.length, 0, "sent after its timeout");
  },

  async "a closed connection rejects the requests in flight, then reconnects"() {
    const { server, client, states } = connected({ minRetryDelay: 1, maxRetryDelay: 1 });
    server.latest().open();
    const inFlight = client.run("lost");
    server.latest().drop();
    same((await rejection(inFlight)).code, "closed", "code");
    same(states.map((s) => s.state), ["open", "waiting"], "states");
    const second = await server.socket(1);
    second.open();
    const reply = client.run("again");
    second.reply("fine");
    same(await reply, "fine", "reply on the new connection");
    same(client.state, "open", "state");
  },

  async "the reconnect delay doubles up to its cap and starts over after an open"() {
    const { server, states } = connected({ minRetryDelay: 1, maxRetryDelay: 4 });
    for (let n = 1; n <= 4; ++n) {
      server.latest().drop();
      await server.socket(n);
    }
    server.latest().open();
    server.latest().drop();
    const waits = states.filter((s) => s.state === "waiting").map((s) => s.retryIn);
    same(waits, [1, 2, 4, 4, 1], "delays");
  },

  async "close() rejects every pending request and ends the client"() {
    const { server, client, states } = connected();
    const socket = server.latest();
    socket.open();
    const inFlight = client.run("sent");
    client.close();
    same((await rejection(inFlight)).code, "closed", "in flight");
    same(socket.closedWith, 1000, "close code");
    socket.drop();
    same(client.state, "closed", "state after the socket closed");
    same((await rejection(client.run("after"))).code, "closed", "after close()");
    same(states.map((s) => s.state), ["open", "closed"], "states");
    same(server.sockets.length, 1, "sockets");
  },

  async "close() also rejects requests still waiting for a connection"() {
    const { client } = connected();
    const waiting = client.run("never sent");
    client.close();
    same((await rejection(waiting)).code, "closed", "code");
  },

  async "stop-listening is sent only through stopListening()"() {
    const { server, client } = connected();
    same(client.stopListening(), false, "before opening");
    same((await rejection(client.run(STOP_LISTENING))).code, "invalid", "through run()");
    server.latest().open();
    same(client.stopListening(), true, "when open");
    same(server.latest().sent.map((data) => Array.from(data)), [bytes(STOP_LISTENING)], "sent");
  },

  "a throwing listener does not keep the others from the push"() {
    const { server, client } = connected();
    server.latest().open();
    const seen = [];
    const quiet = (event) => event.preventDefault();
    window.addEventListener("error", quiet);
    client.onPush(() => {
      throw new Error("listener failure");
    });
    client.onPush((text) => seen.push(text));
    server.latest().push("users");
    window.removeEventListener("error", quiet);
    same(seen, ["users"], "pushes");
  },
};

// A case that hangs fails on its own instead of holding up the rest.
function bounded(run, milliseconds) {
  let timer;
  const limit = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`did not finish within ${milliseconds} ms`)),
                       milliseconds);
  });
  return Promise.race([run(), limit]).finally(() => clearTimeout(timer));
}

let passed = 0;
let failed = 0;
for (const [name, run] of Object.entries(cases)) {
  try {
    await bounded(run, 5000);
    ++passed;
    say("case", name, "pass", "");
  } catch (error) {
    ++failed;
    say("case", name, "fail", String(error?.stack ?? error));
  }
}
say("done", String(passed), String(failed));
