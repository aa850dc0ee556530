// The page driving itself, for the browser test: it clicks what a person would click and reports
// what the page shows on the console, one line a fact: "quillgate-check WHAT VALUE...", each value
// URI-encoded.
//   state S            the connection state shown changed to S
//   reply|push|error T the log gained an entry of that kind with text T
//   batch I S R        script S, sent at once with the others, got the result R
// On every "open" it reads the user list with the button; on the first it also sends
// "ProcessNum{0}" from the script box and runs the batch straight through the client.

import { USER_LIST_SCRIPT, buildScript, processNum } from "../clients/js/quillgate.js";

const batch = [
  USER_LIST_SCRIPT,
  buildScript([{ functionType: 401, trueNext: 2 }, { functionType: 401 }]),
  buildScript([{ functionType: 999 }]),
  buildScript([{ functionType: 401, trueNext: 1, falseNext: 1 }]),
  processNum(0),
  "读取用户 " + USER_LIST_SCRIPT,
];

function say(what, ...values) {
  console.log(["quillgate-check", what, ...values.map((v) => encodeURIComponent(v))].join(" "));
}

async function runBatch(client) {
  const results = await Promise.allSettled(batch.map((script) => client.run(script)));
  results.forEach((result, i) =>
    say("batch", String(i), batch[i],
        result.status === "fulfilled" ? result.value : `!${result.reason.code}`));
}

export function selfCheck(client) {
  const state = document.querySelector("#state");
  let opened = 0;
  const onState = () => {
    say("state", state.dataset.state);
    if (state.dataset.state !== "open") return;
    document.querySelector("#read-users").click();
    if (++opened > 1) return;
    document.querySelector("#script").value = processNum(0);
    document.querySelector("#send").click();
    runBatch(client);
  };
  new MutationObserver(onState).observe(state, { attributeFilter: ["data-state"] });

  new MutationObserver((changes) => {
    for (const change of changes)
      for (const entry of change.addedNodes)
        if (["reply", "push", "error"].includes(entry.dataset?.kind))
          say(entry.dataset.kind, entry.querySelector("pre").textContent);
  }).observe(document.querySelector("#log"), { childList: true });

  onState();
}
