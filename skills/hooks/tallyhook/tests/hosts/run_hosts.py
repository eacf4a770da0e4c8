"""Runs the built hook under the real hosts, Claude Code and Codex CLI, offline: each case is one
host run against the scripted model (fake_model.py) with the hook configured from README.md,
and passes on the skills the stand-in zindle was asked to report.

Called by scripts/host-test.sh, which installs the hosts; see docs/HOSTS.md.
"""

import argparse
import concurrent.futures
import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
README_HOOK_PATH = "/opt/zindle/bin/tallyhook"
HOST_TIMEOUT = 90  # seconds; a safety bound, a case takes a few
ALLOWED_CLAUDE_TOOLS = ("Bash,Read,Skill,ToolSearch,mcp__zindle__query_run,"
                        "mcp__plugin_zindle_zindle__query_run")
KEPT_ROOT = "/tmp/host-suite"  # what the run's temporary directory becomes in kept events
EMOJI_64K = "python3 -c 'print(chr(0x1F600) * 16384)'"
PATCH = ("*** Begin Patch\n*** Add File: login.sh\n+#!/bin/sh\n+zindle auth status\n"
         "*** End Patch\n")

# One row per case. host; name; the prompt; the model's tool calls (see fake_model.py);
# what the case sets up; the skills reported, in order; the hook event that must have been
# delivered ("-": no hook ran at all).
#   setup: mcp       the zindle MCP server configured
#          plugin    Claude Code: --plugin-dir with the plugin "zindle" (skill and MCP server)
#          project   Claude Code: the hook in the project's .claude/settings.json
#          json/toml Codex: the hook in hooks.json, config.toml, or both
#          untrusted Codex: run without --dangerously-bypass-hook-trust
CASES = [
    # host,  name,                 prompt,            steps,                                         setup,          reported,                                  event
    ("claude", "bash",             "check login",     [{"shell": "zindle auth status"}],             "",             ["zin-auth"],                              "PostToolUse"),
    ("claude", "skill",            "use the skill",   [{"tool": "Skill", "input": {"skill": "zin-auth"}}], "",       ["zin-auth"],                              "PostToolUse"),
    ("claude", "skill_args",       "use the skill",   [{"tool": "Skill", "input": {"skill": "zin-auth", "args": "status"}}], "", ["zin-auth"],                  "PostToolUse"),
    ("claude", "mcp",              "run the query",   [{"mcp": "query_run", "input": {"dataset": "sales"}}], "mcp",  ["zin-dataset-query"],                     "PostToolUse"),
    ("claude", "mcp_lone_surrogate", "run the query", [{"mcp": "query_run", "input": {"dataset": "emoji"}}], "mcp",  ["zin-dataset-query"],                     "PostToolUse"),
    ("claude", "read",             "read the notes",  [{"read": "notes.md"}],                        "",             [],                                        "PostToolUse"),
    ("claude", "repeat",           "check twice",     [{"shell": "zindle auth status"}, {"shell": "zindle auth whoami"}], "", ["zin-auth"],                     "PostToolUse"),
    ("claude", "emoji_64k",        "print emoji",     [{"shell": EMOJI_64K + "; zindle auth status"}], "",           ["zin-auth"],                              "PostToolUse"),
    ("claude", "failing",          "log in",          [{"shell": "zindle auth login --fail"}],       "",             ["zin-auth"],                              "PostToolUseFailure"),
    ("claude", "typed_skill",      "/zin-auth status", [],                                           "",             ["zin-auth"],                              "UserPromptExpansion"),
    ("claude", "plugin",           "use the plugin",  [{"tool": "Skill", "input": {"skill": "zindle:zin-auth"}}, {"mcp": "query_run", "input": {"dataset": "sales"}}], "plugin", ["zindle:zin-auth", "zin-dataset-query"], "PostToolUse"),
    ("claude", "plugin_typed_skill", "/zindle:zin-auth", [],                                         "plugin",       ["zindle:zin-auth"],                       "UserPromptExpansion"),
    ("claude", "project_settings", "run the query",   [{"shell": "zindle query run --project demo"}], "project",     ["zin-dataset-query"],                     "PostToolUse"),
    ("codex", "bash",              "check login",     [{"shell": "zindle auth status"}],             "json",         ["zin-auth"],                              "PostToolUse"),
    ("codex", "query",             "run the query",   [{"shell": "zindle query run --project demo"}], "json",        ["zin-dataset-query"],                     "PostToolUse"),
    ("codex", "mcp",               "run the query",   [{"mcp": "query_run", "input": {"dataset": "sales"}}], "json mcp", ["zin-dataset-query"],                 "PostToolUse"),
    ("codex", "apply_patch",       "write a script",  [{"patch": PATCH}],                            "json",         [],                                        "PostToolUse"),
    ("codex", "repeat",            "check twice",     [{"shell": "zindle auth status"}, {"shell": "zindle auth whoami"}], "json", ["zin-auth"],                 "PostToolUse"),
    ("codex", "failing",           "log in",          [{"shell": "zindle auth login --fail"}],       "json",         ["zin-auth"],                              "PostToolUse"),
    ("codex", "toml_form",         "check login",     [{"shell": "zindle auth status"}],             "toml",         ["zin-auth"],                              "PostToolUse"),
    ("codex", "both_forms",        "check login",     [{"shell": "zindle auth status"}],             "json toml",    ["zin-auth"],                              "PostToolUse"),
    ("codex", "untrusted",         "check login",     [{"shell": "zindle auth status"}],             "json untrusted", [],                                      "-"),
]

# The product's command-line tool as the model's shell commands meet it: it succeeds, except
# with --fail. (The stand-in beside the hook only takes reports.)
ZINDLE_ON_PATH = """#!/bin/sh
for a in "$@"; do [ "$a" = --fail ] && { echo "zindle: login failed" >&2; exit 1; }; done
echo "zindle $*: ok"
"""

# Registered after the hook: keeps the exact bytes of each event, and how they came.
CAPTURE = """#!/bin/sh
f="$1/$(date +%s%N)-$$"
stat -L -c %F /dev/stdin > "$f.kind"
cat > "$f.json"
"""

SKILL_MD = """---
name: zin-auth
description: Log in to zindle and check the login.
---
Run `zindle auth status`.
"""


def readme_blocks(readme):
    """The README's hook set-up: the Claude Code JSON, the Codex JSON and the Codex TOML."""
    text = readme.read_text(encoding="utf-8")

    def first_block(heading, language):
        section = text[text.index(heading):]
        found = re.search(r"```" + language + r"\n(.*?)```", section, re.S)
        return found.group(1)

    return {
        "claude": first_block("### Claude Code", "json"),
        "codex_json": first_block("### Codex CLI", "json"),
        "codex_toml": first_block("### Codex CLI", "toml"),
    }


class Suite:
    def __init__(self, args):
        self.args = args
        self.root = Path(tempfile.mkdtemp(prefix="tallyhook-hosts-"))
        # A space in the path, as under "Program Files": the README's quoting must hold.
        self.hook_dir = self.root / "hook dir"
        self.tools_dir = self.root / "tools"
        self.hook_dir.mkdir()
        self.tools_dir.mkdir()
        self.hook = self.hook_dir / "tallyhook"
        shutil.copy2(args.hook, self.hook)
        shutil.copy2(args.zindle, self.hook_dir / "zindle")
        self.capture = self.hook_dir / "capture"
        write_executable(self.capture, CAPTURE)
        write_executable(self.tools_dir / "zindle", ZINDLE_ON_PATH)
        readme = readme_blocks(Path(args.readme))
        self.blocks = {k: v.replace(README_HOOK_PATH, str(self.hook)) for k, v in readme.items()}
        for key, block in readme.items():
            if README_HOOK_PATH not in block:
                raise SystemExit(f"host-test: README's {key} block names no {README_HOOK_PATH}")
        self.model = None

    # --- the scripted model ----------------------------------------------------------------

    def start_model(self, cases):
        scripts = {}
        for host, name, _, steps, _, _, _ in cases:
            work = self.case_dir(host, name) / "work"
            scripts[f"{host}_{name}"] = [
                {"read": str(work / s["read"])} if "read" in s else s for s in steps]
        (self.root / "scripts.json").write_text(json.dumps(scripts))
        self.model = subprocess.Popen(
            [sys.executable, str(HERE / "fake_model.py"), str(self.root / "scripts.json"),
             str(self.root / "model.log")], stdout=subprocess.PIPE)
        port = self.model.stdout.readline().strip()
        if not port.isdigit():
            raise SystemExit("host-test: the fake model did not start")
        self.port = int(port)

    def stop_model(self):
        if self.model is not None and self.model.poll() is None:
            os.kill(self.model.pid, signal.SIGTERM)
            self.model.wait()

    # --- one case ----------------------------------------------------------------------------

    def case_dir(self, host, name):
        return self.root / f"{host}_{name}"

    def run_case(self, case):
        host, name, prompt, steps, setup, reported, event = case
        setup = setup.split()
        base = self.case_dir(host, name)
        home, work, events = base / "home", base / "work", base / "events"
        for d in (home, work, events):
            d.mkdir(parents=True)
        (work / "notes.md").write_text("To check the login, run `zindle auth status`.\n")
        # Nothing from this machine's environment (no proxy, no keys, no CI=true). Codex's npm
        # launcher is a node script: node's directory stays on PATH, wherever it is.
        node_dir = os.path.dirname(shutil.which("node") or "/usr/bin/node")
        env = {"PATH": f"{self.tools_dir}:{node_dir}:/usr/local/bin:/usr/bin:/bin",
               "HOME": str(home), "LANG": "C.UTF-8", "SHELL": "/bin/bash",
               "USER": pwd.getpwuid(os.getuid()).pw_name, "TMPDIR": str(base)}
        # A login shell resets PATH from /etc/profile; the case's own ~/.profile puts it back.
        (home / ".profile").write_text(f'PATH="{self.tools_dir}:$PATH"\n')
        url = f"http://127.0.0.1:{self.port}/{host}_{name}"
        capture = f'"{self.capture}" "{events}"'
        if host == "claude":
            command = self.claude_setup(base, home, work, prompt, setup, capture, env, url)
        else:
            command = self.codex_setup(base, home, prompt, setup, capture, env, url)
        started = time.monotonic()
        # Its own process group, so that what the host started (MCP servers, shells) is ended
        # with it, by the host's id.
        process = subprocess.Popen(command, cwd=work, env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   start_new_session=True)
        try:
            out, err = process.communicate(timeout=HOST_TIMEOUT)
            status = process.returncode
        except subprocess.TimeoutExpired:
            end_group(process.pid)
            out, err = process.communicate()
            status = f"timeout after {HOST_TIMEOUT} s"
        end_group(process.pid)
        seconds = time.monotonic() - started
        (base / "host.out").write_bytes(out)
        (base / "host.err").write_bytes(err)
        return self.judge(case, base, home, events, status, seconds, err)

    def claude_setup(self, base, home, work, prompt, setup, capture, env, url):
        env.update({
            "ANTHROPIC_BASE_URL": url,
            "ANTHROPIC_API_KEY": "sk-ant-dummy",
            "CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC": "1",
            "DISABLE_AUTOUPDATER": "1",
            "DISABLE_TELEMETRY": "1",
        })
        settings = json.loads(self.blocks["claude"])
        for groups in settings["hooks"].values():
            for group in groups:
                group["hooks"].append({"type": "command", "command": capture})
        settings_dir = (work if "project" in setup else home) / ".claude"
        settings_dir.mkdir(parents=True, exist_ok=True)
        (settings_dir / "settings.json").write_text(json.dumps(settings, indent=2))
        skill = home / ".claude" / "skills" / "zin-auth"
        skill.mkdir(parents=True)
        (skill / "SKILL.md").write_text(SKILL_MD)
        command = [self.args.claude, "-p", prompt, "--allowedTools", ALLOWED_CLAUDE_TOOLS]
        server = {"type": "stdio", "command": sys.executable, "args": [str(HERE / "zindle_mcp.py")]}
        if "mcp" in setup:
            (base / "mcp.json").write_text(json.dumps({"mcpServers": {"zindle": server}}))
            command += ["--mcp-config", str(base / "mcp.json")]
        if "plugin" in setup:
            plugin = base / "plugin"
            (plugin / ".claude-plugin").mkdir(parents=True)
            (plugin / ".claude-plugin" / "plugin.json").write_text(
                json.dumps({"name": "zindle", "version": "0.1.0"}))
            (plugin / ".mcp.json").write_text(json.dumps({"mcpServers": {"zindle": server}}))
            (plugin / "skills" / "zin-auth").mkdir(parents=True)
            (plugin / "skills" / "zin-auth" / "SKILL.md").write_text(SKILL_MD)
            command += ["--plugin-dir", str(plugin)]
        return command

    def codex_setup(self, base, home, prompt, setup, capture, env, url):
        codex_home = home / ".codex"
        codex_home.mkdir()
        env.update({"CODEX_HOME": str(codex_home), "FAKE_MODEL_KEY": "sk-dummy"})
        config = [
            'model = "gpt-5.5"',
            'model_provider = "fake"',
            "",
            "[model_providers.fake]",
            'name = "scripted model"',
            f'base_url = "{url}/v1"',
            'env_key = "FAKE_MODEL_KEY"',
            'wire_api = "responses"',
            "",
            "[features]",
            "plugins = false  # else every start fetches a plugin repository",
            "",
        ]
        if "mcp" in setup:
            config += ["[mcp_servers.zindle]", f"command = {json.dumps(sys.executable)}",
                       f"args = [{json.dumps(str(HERE / 'zindle_mcp.py'))}]", ""]
        if "toml" in setup:
            config += [self.blocks["codex_toml"],
                       "[[hooks.PostToolUse.hooks]]", 'type = "command"',
                       f"command = {toml_literal(capture)}", ""]
        (codex_home / "config.toml").write_text("\n".join(config))
        if "json" in setup:
            hooks = json.loads(self.blocks["codex_json"])
            for groups in hooks["hooks"].values():
                for group in groups:
                    group["hooks"].append({"type": "command", "command": capture})
            (codex_home / "hooks.json").write_text(json.dumps(hooks, indent=2))
        command = [self.args.codex, "exec", "--skip-git-repo-check",
                   "--dangerously-bypass-approvals-and-sandbox"]
        if "untrusted" not in setup:
            command.append("--dangerously-bypass-hook-trust")
        return command + [prompt]

    # --- the verdict -------------------------------------------------------------------------

    def judge(self, case, base, home, events, status, seconds, err):
        host, name, _, _, setup, expected, event = case
        problems = []
        if status != 0:
            problems.append(f"host exit status {status}")
        usage = home / ".zindle" / "usage.log"
        lines = usage.read_text(encoding="utf-8").splitlines() if usage.exists() else []
        names = [line.split("\t", 1)[1] for line in lines]
        if sorted(names) != sorted(expected):
            problems.append(f"reported {names}, expected {expected}")
        captured = sorted(events.glob("*.json"))
        seen = []
        for path in captured:
            data = path.read_bytes()
            try:
                seen.append(json.loads(data).get("hook_event_name"))
            except ValueError:
                problems.append(f"{path.name} is no JSON")
            problems += self.replay(path, data, base)
        if event == "-":
            if captured:
                problems.append(f"hooks ran ({len(captured)} events), expected none")
            # The README says that Codex keeps quiet about a hook it did not run.
            said = err.replace(str(self.root).encode(), b"").lower()
            if "untrusted" in setup and b"hook" in said:
                problems.append("the host now mentions hooks: see host.err, and the README")
        elif event not in seen:
            problems.append(f"no {event} event (saw {sorted(set(seen))})")
        if self.args.keep_events and captured:
            self.keep(host, name, captured)
        return {"case": f"{host} {name}", "seconds": seconds, "problems": problems,
                "events": seen, "dir": str(base)}

    def replay(self, path, data, base):
        """The hook's own answer to the event the host sent: status 0, nothing on stdout."""
        scratch = base / "replay"
        scratch.mkdir(exist_ok=True)
        result = subprocess.run([str(self.hook)], input=data, capture_output=True, timeout=30,
                                env={"HOME": str(scratch), "PATH": "/usr/bin:/bin"})
        problems = []
        if result.returncode != 0:
            problems.append(f"hook exit status {result.returncode} on {path.name}: "
                            f"{result.stderr.decode(errors='replace').strip()}")
        if result.stdout:
            problems.append(f"hook wrote {len(result.stdout)} bytes to stdout on {path.name}")
        return problems

    def keep(self, host, name, captured):
        """The events as the host wrote them, the run's temporary directory replaced."""
        out = Path(self.args.keep_events)
        out.mkdir(parents=True, exist_ok=True)
        root = str(self.root)
        dashed = re.sub(r"[^A-Za-z0-9]", "-", root)
        for i, path in enumerate(captured, 1):
            data = path.read_bytes()
            data = data.replace(root.encode(), KEPT_ROOT.encode())
            data = data.replace(dashed.encode(), KEPT_ROOT.replace("/", "-").encode())
            kind = path.with_suffix(".kind").read_text().strip().replace(" ", "_")
            (out / f"{host}_{name}_{i}.{kind}.json").write_bytes(data)


def end_group(pgid):
    try:
        os.killpg(pgid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def toml_literal(text):
    return "'" + text + "'"


def write_executable(path, text):
    path.write_text(text)
    path.chmod(0o755)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--claude", required=True)
    parser.add_argument("--codex", required=True)
    parser.add_argument("--hook", required=True)
    parser.add_argument("--zindle", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("--keep-events")
    parser.add_argument("--keep-temp", action="store_true")
    parser.add_argument("--only", help="run only the cases whose 'host name' contains this")
    parser.add_argument("--jobs", type=int, default=4)
    args = parser.parse_args()

    cases = [c for c in CASES if not args.only or args.only in f"{c[0]} {c[1]}"]
    suite = Suite(args)
    started = time.monotonic()
    try:
        suite.start_model(cases)
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            results = list(pool.map(suite.run_case, cases))
    finally:
        suite.stop_model()
    failed = 0
    for r in results:
        verdict = "FAIL" if r["problems"] else "ok  "
        print(f"{verdict} {r['case']:<28} {r['seconds']:5.1f}s  {' '.join(r['events'])}")
        for problem in r["problems"]:
            print(f"       {problem}   ({r['dir']})")
        failed += bool(r["problems"])
    print(f"host suite: {len(results)} cases in {time.monotonic() - started:.1f}s")
    print(f"hosts: {len(results) - failed} passed, {failed} failed")
    if failed or args.keep_temp:
        print(f"host suite: the run is kept in {suite.root}")
    else:
        shutil.rmtree(suite.root, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
