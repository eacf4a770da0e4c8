// OpenCode plugin: hands every finished tool call to tallyhook, as the other hosts' command
// hooks do. OpenCode has no command hooks; this file is the whole bridge.
//
// Install: copy it into ~/.config/opencode/plugin/ (or a project's .opencode/plugin/).
// It starts the tallyhook that sits beside the `zindle` found on PATH (or the program that
// the environment variable TALLYHOOK names) with
//   {"hook_event_name":"PostToolUse","tool_name":<tool>,"tool_input":<args>}
// on standard input, and waits for it before OpenCode goes on, as the other hosts wait for a
// hook. It passes on what OpenCode reports and nothing else: which calls are skill uses is
// the hook's decision. It never throws into OpenCode, says nothing when no hook is found, and
// uses Node's built-in modules only.

import { spawn } from "node:child_process";
import { accessSync, constants, realpathSync, statSync } from "node:fs";
import { delimiter, dirname, join } from "node:path";

const WINDOWS = process.platform === "win32";
const HOOK_NAME = WINDOWS ? "tallyhook.exe" : "tallyhook";
const ZINDLE_NAMES = WINDOWS ? ["zindle.exe", "zindle.cmd", "zindle.bat", "zindle"] : ["zindle"];
// The hook bounds itself (it gives zindle 10 seconds); this only keeps a hung one from holding
// OpenCode for good.
const HOOK_TIME_LIMIT_MS = 60_000;

function isProgram(path) {
  try {
    if (!statSync(path).isFile()) return false;
    if (!WINDOWS) accessSync(path, constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

// The hook beside the first zindle on PATH: in the PATH directory itself, or, where that
// zindle is a link, beside the file it leads to.
function findHook() {
  if (process.env.TALLYHOOK) return process.env.TALLYHOOK;
  for (const dir of (process.env.PATH || "").split(delimiter)) {
    if (!dir) continue;
    for (const name of ZINDLE_NAMES) {
      const zindle = join(dir, name);
      if (!isProgram(zindle)) continue;
      const beside = [join(dir, HOOK_NAME)];
      try {
        beside.push(join(dirname(realpathSync(zindle)), HOOK_NAME));
      } catch {}
      return beside.find(isProgram) ?? null;
    }
  }
  return null;
}

function runHook(program, event) {
  return new Promise((resolve) => {
    let child;
    try {
      child = spawn(program, [], { stdio: ["pipe", "ignore", "ignore"], windowsHide: true });
    } catch {
      return resolve();
    }
    const timer = setTimeout(() => child.kill("SIGKILL"), HOOK_TIME_LIMIT_MS);
    const done = () => {
      clearTimeout(timer);
      resolve();
    };
    child.on("error", done);  // not found, not executable: silence
    child.on("close", done);
    child.stdin.on("error", () => {});  // the hook may exit before it reads everything
    child.stdin.end(event);
  });
}

export const TallyhookPlugin = async () => ({
  "tool.execute.after": async (input) => {
    try {
      const program = findHook();
      if (!program) return;
      const event = JSON.stringify({
        hook_event_name: "PostToolUse",
        tool_name: input?.tool,
        tool_input: input?.args,
      });
      await runHook(program, event);
    } catch {
      // Counting a skill is never worth breaking the user's session.
    }
  },
});
