// The example page: one client, its state, two ways to send a script and a log of what comes back.
// Query parameters: server=ws://host:port to reach another address, selfcheck to let the page
// drive itself (the browser test does).

import {
  DEFAULT_URL,
  QuillgateClient,
  USER_LIST_SCRIPT,
  parseFailure,
} from "../clients/js/quillgate.js";

const params = new URLSearchParams(location.search);
const client = new QuillgateClient({ url: params.get("server") || DEFAULT_URL });

const $ = (selector) => document.querySelector(selector);
const log = $("#log");

function timeOfDay() {
  const now = new Date();
  const two = (n) => String(n).padStart(2, "0");
  return `${two(now.getHours())}:${two(now.getMinutes())}:${two(now.getSeconds())}.` +
    String(now.getMilliseconds()).padStart(3, "0");
}

function addEntry(kind, text, note = "") {
  const entry = document.createElement("li");
  entry.dataset.kind = kind;
  const time = document.createElement("time");
  time.textContent = timeOfDay();
  const label = document.createElement("span");
  label.className = "kind";
  label.textContent = kind;
  const body = document.createElement("pre");
  body.textContent = text;
  entry.append(time, label, body);
  if (note) {
    const extra = document.createElement("span");
    extra.className = "note";
    extra.textContent = note;
    entry.append(extra);
  }
  const atBottom = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  log.append(entry);
  if (atBottom) log.scrollTop = log.scrollHeight;
}

function failureNote(text) {
  const failure = parseFailure(text);
  if (!failure) return "";
  return failure.step === undefined
    ? `failed: ${failure.reason}`
    : `failed: ${failure.reason} at step ${failure.step}`;
}

async function send(script) {
  addEntry("request", script);
  try {
    const reply = await client.run(script);
    addEntry("reply", reply, failureNote(reply));
  } catch (error) {
    addEntry("error", `${error.code ?? error.name}: ${error.message}`);
  }
}

function showState({ state, retryIn }) {
  const badge = $("#state");
  badge.dataset.state = state;
  badge.textContent = state;
  $("#retry").textContent =
    state === "waiting" ? `next attempt in ${(retryIn / 1000).toFixed(1)} s` : "";
  addEntry("state", state);
}

$("#address").textContent = client.url;
showState({ state: client.state, retryIn: 0 });
client.onState(showState);
client.onPush((text) => addEntry("push", text));

$("#script").value = USER_LIST_SCRIPT;
$("#read-users").addEventListener("click", () => send(USER_LIST_SCRIPT));
$("#send").addEventListener("click", () => send($("#script").value));
$("#clear").addEventListener("click", () => log.replaceChildren());

if (params.has("selfcheck")) {
  const { selfCheck } = await import("./selfcheck.js");
  selfCheck(client);
}
