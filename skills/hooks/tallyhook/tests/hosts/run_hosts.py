"""Runs the built hook under the real hosts, offline: each case is one host run against the
scripted model (fake_model.py) with the hook configured from README.md. A case passes on the
skills the stand-in zindle was asked to report, on what each event the host wrote makes the
hook report by itself, and on the names the host used, held to docs/HOSTS.md.

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
import threading
import time
from collections import namedtuple
from pathlib import Path

HERE = Path(__file__).resolve().parent
PLUGIN = HERE.parent.parent / "opencode" / "tallyhook.js"
README_HOOK_PATH = "/opt/zindle/bin/tallyhook"
README_PLUGIN_PATH = "/opt/zindle/share/tallyhook/opencode/tallyhook.js"
HOST_TIMEOUT = 90  # seconds; a safety bound, a case takes a few
ALLOWED_CLAUDE_TOOLS = ("Bash,Read,Skill,ToolSearch,mcp__zindle__query_run,"
                        "mcp__plugin_zindle_zindle__query_run")
KEPT_ROOT = "/tmp/host-suite"  # what the run's temporary directory becomes in kept events
EMOJI_64K = "python3 -c 'print(chr(0x1F600) * 16384)'"
PATCH = ("*** Begin Patch\n*** Add File: login.sh\n+#!/bin/sh\n+zindle auth status\n"
         "*** End Patch\n")
UNNAMED = "unnamed"  # the event of a case whose host names no event (Copilot's own format)

# One session of the hosts that came after Claude Code and Codex: every kind of tool call, so
# that one start of the host covers them. The three uses of zin-auth come within 30 s and are
# reported once; replayed one by one, each event counts.
TOOL_CALLS = [{"shell": "zindle auth status"}, {"shell": "zindle auth login --fail"},
              {"skill": "zin-auth"}, {"mcp": "query_run", "input": {"dataset": "sales"}},
              {"read": "notes.md"}]
TOOL_CALLS_REPORTED = ["zin-auth", "zin-dataset-query"]
TOOL_CALLS_COUNTED = ["zin-auth", "zin-auth", "zin-auth", "zin-dataset-query"]

Case = namedtuple("Case", "host name prompt steps setup reported counted event")

# One row per case. host; name; the prompt; the model's tool calls (see fake_model.py); what
# the case sets up; the skills reported, in any order; the skills the host's events give the
# hook one by one, each in a fresh home (the repeats that the 30 s window holds back count
# here); the hook event that must have been delivered ("-": no hook ran at all).
#   setup: mcp          the zindle MCP server configured
#          plugin       Claude Code: --plugin-dir with the plugin "zindle" (skill and MCP server)
#          project      Claude Code: the hook in the project's .claude/settings.json
#          shell_form   Claude Code: the README's handler for releases without "args"
#          json/toml    Codex: the hook in hooks.json, config.toml, or both
#          untrusted    Codex: run without --dangerously-bypass-hook-trust
#          claude_style/native  Copilot CLI: the README's file in Claude Code's or its own format
#          named/no_hook        OpenCode: the hook named by TALLYHOOK, or nowhere to be found
CASES = [Case(*row) for row in [
    # host,  name,                 prompt,            steps,                                         setup,          reported,            counted,             event
    ("claude", "bash",             "check login",     [{"shell": "zindle auth status"}],             "",             ["zin-auth"],        ["zin-auth"],        "PostToolUse"),
    ("claude", "skill",            "use the skill",   [{"skill": "zin-auth"}],                       "",             ["zin-auth"],        ["zin-auth"],        "PostToolUse"),
    ("claude", "skill_args",       "use the skill",   [{"tool": "Skill", "input": {"skill": "zin-auth", "args": "status"}}], "", ["zin-auth"], ["zin-auth"],     "PostToolUse"),
    ("claude", "mcp",              "run the query",   [{"mcp": "query_run", "input": {"dataset": "sales"}}], "mcp",  ["zin-dataset-query"], ["zin-dataset-query"], "PostToolUse"),
    ("claude", "mcp_lone_surrogate", "run the query", [{"mcp": "query_run", "input": {"dataset": "emoji"}}], "mcp",  ["zin-dataset-query"], ["zin-dataset-query"], "PostToolUse"),
    ("claude", "read",             "read the notes",  [{"read": "notes.md"}],                        "",             [],                  [],                  "PostToolUse"),
    ("claude", "repeat",           "check twice",     [{"shell": "zindle auth status"}, {"shell": "zindle auth whoami"}], "", ["zin-auth"], ["zin-auth", "zin-auth"], "PostToolUse"),
    ("claude", "emoji_64k",        "print emoji",     [{"shell": EMOJI_64K + "; zindle auth status"}], "",           ["zin-auth"],        ["zin-auth"],        "PostToolUse"),
    ("claude", "failing",          "log in",          [{"shell": "zindle auth login --fail"}],       "",             ["zin-auth"],        ["zin-auth"],        "PostToolUseFailure"),
    ("claude", "typed_skill",      "/zin-auth status", [],                                           "",             ["zin-auth"],        ["zin-auth"],        "UserPromptExpansion"),
    ("claude", "builtin_command",  "/init",           [],                                            "",             [],                  [],                  "UserPromptExpansion"),
    ("claude", "plugin",           "use the plugin",  [{"skill": "zindle:zin-auth"}, {"mcp": "query_run", "input": {"dataset": "sales"}}], "plugin", ["zindle:zin-auth", "zin-dataset-query"], ["zindle:zin-auth", "zin-dataset-query"], "PostToolUse"),
    ("claude", "plugin_typed_skill", "/zindle:zin-auth", [],                                         "plugin",       ["zindle:zin-auth"], ["zindle:zin-auth"], "UserPromptExpansion"),
    ("claude", "project_settings", "run the query",   [{"shell": "zindle query run --project demo"}], "project",     ["zin-dataset-query"], ["zin-dataset-query"], "PostToolUse"),
    ("claude", "shell_form",       "check login",     [{"shell": "zindle auth status"}],             "shell_form",   ["zin-auth"],        ["zin-auth"],        "PostToolUse"),
    ("codex", "bash",              "check login",     [{"shell": "zindle auth status"}],             "json",         ["zin-auth"],        ["zin-auth"],        "PostToolUse"),
    ("codex", "query",             "run the query",   [{"shell": "zindle query run --project demo"}], "json",        ["zin-dataset-query"], ["zin-dataset-query"], "PostToolUse"),
    ("codex", "mcp",               "run the query",   [{"mcp": "query_run", "input": {"dataset": "sales"}}], "json mcp", ["zin-dataset-query"], ["zin-dataset-query"], "PostToolUse"),
    ("codex", "apply_patch",       "write a script",  [{"patch": PATCH}],                            "json",         [],                  [],                  "PostToolUse"),
    ("codex", "repeat",            "check twice",     [{"shell": "zindle auth status"}, {"shell": "zindle auth whoami"}], "json", ["zin-auth"], ["zin-auth", "zin-auth"], "PostToolUse"),
    ("codex", "failing",           "log in",          [{"shell": "zindle auth login --fail"}],       "json",         ["zin-auth"],        ["zin-auth"],        "PostToolUse"),
    ("codex", "toml_form",         "check login",     [{"shell": "zindle auth status"}],             "toml",         ["zin-auth"],        ["zin-auth"],        "PostToolUse"),
    # Both forms run the hook twice per call: two events, one report.
    ("codex", "both_forms",        "check login",     [{"shell": "zindle auth status"}],             "json toml",    ["zin-auth"],        ["zin-auth", "zin-auth"], "PostToolUse"),
    ("codex", "untrusted",         "check login",     [{"shell": "zindle auth status"}],             "json untrusted", [],                [],                  "-"),
    ("gemini", "tools",            "check login",     TOOL_CALLS,                                    "mcp",          TOOL_CALLS_REPORTED, TOOL_CALLS_COUNTED,  "AfterTool"),
    ("qwen", "tools",              "check login",     TOOL_CALLS,                                    "mcp",          TOOL_CALLS_REPORTED, TOOL_CALLS_COUNTED,  "PostToolUseFailure"),
    ("qwen", "typed_skill",        "/zin-auth status", [],                                           "",             ["zin-auth"],        ["zin-auth"],        "UserPromptExpansion"),
    # Nothing in Qwen Code's event tells a built-in command from a skill (docs/HOSTS.md).
    ("qwen", "builtin_command",    "/init",           [],                                            "",             ["init"],            ["init"],            "UserPromptExpansion"),
    ("copilot", "tools",           "check login",     TOOL_CALLS,                                    "claude_style mcp", TOOL_CALLS_REPORTED, TOOL_CALLS_COUNTED, "PostToolUse"),
    ("copilot", "native_tools",    "check login",     TOOL_CALLS,                                    "native mcp",   TOOL_CALLS_REPORTED, TOOL_CALLS_COUNTED,  UNNAMED),
    ("opencode", "tools",          "check login",     TOOL_CALLS,                                    "mcp",          TOOL_CALLS_REPORTED, TOOL_CALLS_COUNTED,  "PostToolUse"),
    ("opencode", "hook_named",     "check login",     [{"shell": "zindle auth status"}],             "named",        ["zin-auth"],        ["zin-auth"],        "PostToolUse"),
    ("opencode", "no_hook",        "check login",     [{"shell": "zindle auth status"}],             "no_hook",      [],                  [],                  "-"),
]]

# The slowest hosts start first, so that the last case to finish is a short one.
START_ORDER = ("opencode", "qwen", "copilot", "gemini", "claude", "codex")

# The step kinds whose tool name docs/HOSTS.md's table gives, by column.
DOC_COLUMNS = {"shell": 3, "skill": 4, "mcp": 5}
# Copilot CLI has a row per configuration format.
DOC_FORMATS = {"claude_style": "Claude Code's format", "native": "its own format"}

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

# OpenCode's plugin starts one program: this one keeps the event, then hands it to the hook.
CAPTURING_HOOK = """#!/bin/sh
f="{events}/$(date +%s%N)-$$"
stat -L -c %F /dev/stdin > "$f.kind"
cat > "$f.json"
exec "{hook}" < "$f.json"
"""

SKILL_MD = """---
name: zin-auth
description: Log in to zindle and check the login.
---
Run `zindle auth status`.
"""


class Interrupted(Exception):
    """The suite is stopping: no host is started any more."""


def readme_blocks(readme):
    """The README's set-up blocks, by host: the ```json, ```toml and ```sh blocks of each
    host's section, in order."""
    text = readme.read_text(encoding="utf-8")

    def blocks(heading, language):
        start = text.index(heading + "\n")
        end = re.compile(r"\n##+ ").search(text, start + 1)
        section = text[start:end.start() if end else None]
        return re.findall(r"```" + language + r"\n(.*?)```", section, re.S)

    found = {
        "claude": blocks("### Claude Code", "json"),
        "codex_json": blocks("### Codex CLI", "json"),
        "codex_toml": blocks("### Codex CLI", "toml"),
        "gemini": blocks("### Gemini CLI", "json"),
        "qwen": blocks("### Qwen Code", "json"),
        "copilot": blocks("### GitHub Copilot CLI", "json"),
        "opencode": blocks("### OpenCode", "sh"),
    }
    wanted = {"claude": 2, "copilot": 2}
    for key, found_blocks in found.items():
        if len(found_blocks) < wanted.get(key, 1):
            raise SystemExit(f"host-test: README.md lacks the {key} set-up block")
        path = README_PLUGIN_PATH if key == "opencode" else README_HOOK_PATH
        if any(path not in block for block in found_blocks):
            raise SystemExit(f"host-test: a {key} block of README.md names no {path}")
    return found


def doc_rows(hosts_doc):
    """The rows of docs/HOSTS.md's table of what the hosts send, as lists of cells."""
    text = hosts_doc.read_text(encoding="utf-8")
    table = text[text.index("\n## What each host sends\n"):]
    rows = []
    for line in table.splitlines()[1:]:
        if rows and not line.startswith("|"):
            break
        if line.startswith("|") and not line.startswith("|--") and not line.startswith("| ---"):
            rows.append([cell.strip() for cell in line.strip().strip("|").split("|")])
    return rows[1:]  # without the heading


def names_in(cell):
    """The names a table cell gives in backquotes (not the `{member}` lists)."""
    return set(re.findall(r"`([^`{}]+)`", cell))


class Suite:
    def __init__(self, args):
        self.args = args
        self.hosts = {key: {"package": package, "version": version, "program": program,
                            "node_dir": node_dir}
                      for key, package, version, program, node_dir in args.host}
        self.blocks = readme_blocks(Path(args.readme))
        self.doc = doc_rows(Path(args.hosts_doc))
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
        # Inside the run's directory, so that the events that name it (Gemini CLI's
        # mcp_context) name no path of this machine once kept.
        self.mcp_server = self.tools_dir / "zindle_mcp.py"
        shutil.copy2(HERE / "zindle_mcp.py", self.mcp_server)
        self.plugin = self.hook_dir / "tallyhook.js"
        shutil.copy2(PLUGIN, self.plugin)
        self.model = None
        self.lock = threading.Lock()
        self.running = set()
        self.stopping = False

    # --- the scripted model ----------------------------------------------------------------

    def start_model(self, cases):
        scripts = {}
        for case in cases:
            work = self.case_dir(case) / "work"
            scripts[f"{case.host}_{case.name}"] = [
                {"read": str(work / s["read"])} if "read" in s else s for s in case.steps]
        (self.root / "scripts.json").write_text(json.dumps(scripts))
        # A session of its own: Ctrl-C at the terminal reaches the runner alone, which ends it.
        self.model = subprocess.Popen(
            [sys.executable, str(HERE / "fake_model.py"), str(self.root / "scripts.json"),
             str(self.root / "model.log")], stdout=subprocess.PIPE, start_new_session=True)
        port = self.model.stdout.readline().strip()
        if not port.isdigit():
            raise SystemExit("host-test: the fake model did not start")
        self.port = int(port)

    def stop_model(self):
        if self.model is not None and self.model.poll() is None:
            os.kill(self.model.pid, signal.SIGTERM)
            self.model.wait()

    def interrupt(self):
        """Starts no more hosts, and ends those that run, with all they started."""
        with self.lock:
            self.stopping = True
            for process in self.running:
                end_session(process.pid)

    # --- one case ----------------------------------------------------------------------------

    def case_dir(self, case):
        return self.root / f"{case.host}_{case.name}"

    def run_case(self, case):
        try:
            return self.run_host(case)
        except (OSError, ValueError, KeyError, subprocess.SubprocessError) as error:
            return {"case": f"{case.host} {case.name}", "seconds": 0.0, "events": [],
                    "problems": [f"the case could not be set up: {error!r}"],
                    "dir": str(self.case_dir(case))}

    def run_host(self, case):
        host = self.hosts[case.host]
        setup = case.setup.split()
        base = self.case_dir(case)
        home, work, events = base / "home", base / "work", base / "events"
        for d in (home, work, events):
            d.mkdir(parents=True)
        (work / "notes.md").write_text("To check the login, run `zindle auth status`.\n")
        # Nothing from this machine's environment (no proxy, no keys, no CI=true). The hosts'
        # npm launchers are node scripts: the Node the host asks for comes first on PATH.
        env = {"PATH": f"{self.tools_dir}:{host['node_dir']}:/usr/local/bin:/usr/bin:/bin",
               "HOME": str(home), "LANG": "C.UTF-8", "SHELL": "/bin/bash",
               "USER": pwd.getpwuid(os.getuid()).pw_name, "TMPDIR": str(base)}
        # A login shell resets PATH from /etc/profile; the case's own ~/.profile puts it back.
        (home / ".profile").write_text(f'PATH="{self.tools_dir}:$PATH"\n')
        url = f"http://127.0.0.1:{self.port}/{case.host}_{case.name}"
        capture = f'"{self.capture}" "{events}"'
        setups = {"claude": self.claude_setup, "codex": self.codex_setup,
                  "gemini": self.gemini_setup, "qwen": self.qwen_setup,
                  "copilot": self.copilot_setup, "opencode": self.opencode_setup}
        command = setups[case.host](base, home, work, events, case.prompt, setup, capture, env,
                                    url)
        command[0] = host["program"]
        started = time.monotonic()
        # Its own session, so that what the host started (MCP servers, shells, the process
        # groups some hosts make for each command) is ended with it, by the host's id.
        with self.lock:
            if self.stopping:
                raise Interrupted()
            process = subprocess.Popen(command, cwd=work, env=env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                       start_new_session=True)
            self.running.add(process)
        try:
            out, err = process.communicate(timeout=HOST_TIMEOUT)
            status = process.returncode
        except subprocess.TimeoutExpired:
            end_session(process.pid)
            out, err = process.communicate()
            status = f"timeout after {HOST_TIMEOUT} s"
        with self.lock:
            end_session(process.pid)
            self.running.discard(process)
        seconds = time.monotonic() - started
        (base / "host.out").write_bytes(out)
        (base / "host.err").write_bytes(err)
        return self.judge(case, base, home, events, status, seconds, err)

    def skill_home(self, home, folder):
        skill = home / folder / "zin-auth"
        skill.mkdir(parents=True)
        (skill / "SKILL.md").write_text(SKILL_MD)

    def mcp_server_args(self):
        # python3 from the case's PATH, not this interpreter's path: Gemini CLI's events name
        # the command line, and the kept ones name no path of this machine.
        return ["python3", str(self.mcp_server)]

    def with_capture(self, block, capture):
        """A README block with the capture hook after the hook in each group."""
        settings = json.loads(block.replace(README_HOOK_PATH, str(self.hook)))
        for groups in settings["hooks"].values():
            for group in groups:
                group["hooks"].append({"type": "command", "command": capture})
        return settings

    def claude_setup(self, base, home, work, events, prompt, setup, capture, env, url):
        env.update({
            "ANTHROPIC_BASE_URL": url,
            "ANTHROPIC_API_KEY": "sk-ant-dummy",
            "CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC": "1",
            "DISABLE_AUTOUPDATER": "1",
            "DISABLE_TELEMETRY": "1",
        })
        settings = self.with_capture(self.blocks["claude"][0], capture)
        if "shell_form" in setup:
            handler = json.loads(self.blocks["claude"][1].replace(README_HOOK_PATH, str(self.hook)))
            for groups in settings["hooks"].values():
                for group in groups:
                    group["hooks"][0] = handler
        settings_dir = (work if "project" in setup else home) / ".claude"
        settings_dir.mkdir(parents=True, exist_ok=True)
        (settings_dir / "settings.json").write_text(json.dumps(settings, indent=2))
        self.skill_home(home, ".claude/skills")
        command = ["claude", "-p", prompt, "--allowedTools", ALLOWED_CLAUDE_TOOLS]
        program, *args = self.mcp_server_args()
        server = {"type": "stdio", "command": program, "args": args}
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

    def codex_setup(self, base, home, work, events, prompt, setup, capture, env, url):
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
            program, *args = self.mcp_server_args()
            config += ["[mcp_servers.zindle]", f"command = {json.dumps(program)}",
                       f"args = {json.dumps(args)}", ""]
        if "toml" in setup:
            config += [self.blocks["codex_toml"][0].replace(README_HOOK_PATH, str(self.hook)),
                       "[[hooks.PostToolUse.hooks]]", 'type = "command"',
                       f"command = {toml_literal(capture)}", ""]
        (codex_home / "config.toml").write_text("\n".join(config))
        if "json" in setup:
            hooks = self.with_capture(self.blocks["codex_json"][0], capture)
            (codex_home / "hooks.json").write_text(json.dumps(hooks, indent=2))
        command = ["codex", "exec", "--skip-git-repo-check",
                   "--dangerously-bypass-approvals-and-sandbox"]
        if "untrusted" not in setup:
            command.append("--dangerously-bypass-hook-trust")
        return command + [prompt]

    def gemini_setup(self, base, home, work, events, prompt, setup, capture, env, url):
        env.update({"GEMINI_API_KEY": "dummy", "GOOGLE_GEMINI_BASE_URL": url,
                    "GEMINI_CLI_TRUST_WORKSPACE": "true"})
        self.settings_file(home / ".gemini", "gemini", capture, setup, {
            "security": {"auth": {"selectedType": "gemini-api-key"}},
            "general": {"enableAutoUpdate": False, "enableAutoUpdateNotification": False},
        })
        return ["gemini", "-p", prompt, "--yolo"]

    def qwen_setup(self, base, home, work, events, prompt, setup, capture, env, url):
        env.update({"OPENAI_API_KEY": "sk-dummy", "OPENAI_BASE_URL": url + "/v1",
                    "OPENAI_MODEL": "qwen3-coder-plus"})
        self.settings_file(home / ".qwen", "qwen", capture, setup,
                           {"security": {"auth": {"selectedType": "openai"}}})
        return ["qwen", "-p", prompt, "--yolo"]

    def settings_file(self, folder, host, capture, setup, settings):
        """Gemini CLI's and Qwen Code's settings.json: the README's hooks, SETTINGS, usage
        statistics and telemetry off (Qwen Code's would send a beacon out at every start),
        the MCP server where the case has it; and the skill beside it."""
        settings.update(self.with_capture(self.blocks[host][0], capture))
        settings.update({"privacy": {"usageStatisticsEnabled": False},
                         "telemetry": {"enabled": False}})
        if "mcp" in setup:
            program, *args = self.mcp_server_args()
            settings["mcpServers"] = {"zindle": {"command": program, "args": args}}
        folder.mkdir()
        (folder / "settings.json").write_text(json.dumps(settings, indent=2))
        self.skill_home(folder.parent, f"{folder.name}/skills")

    def copilot_setup(self, base, home, work, events, prompt, setup, capture, env, url):
        env.update({"COPILOT_OFFLINE": "true", "COPILOT_PROVIDER_BASE_URL": url + "/v1",
                    "COPILOT_PROVIDER_API_KEY": "sk-dummy", "COPILOT_MODEL": "gpt-4.1",
                    # Its 235 MB package, unpacked once into the host cache, not per home.
                    "COPILOT_PKG_CACHE_HOME": self.args.copilot_cache})
        native = "native" in setup
        block = self.blocks["copilot"][1 if native else 0]
        if native:
            hooks = json.loads(block.replace(README_HOOK_PATH, str(self.hook)))
            hooks["hooks"]["postToolUse"].append({"type": "command", "bash": capture})
        else:
            hooks = self.with_capture(block, capture)
        (home / ".copilot" / "hooks").mkdir(parents=True)
        (home / ".copilot" / "hooks" / "tallyhook.json").write_text(json.dumps(hooks, indent=2))
        if "mcp" in setup:
            program, *args = self.mcp_server_args()
            server = {"type": "local", "command": program, "args": args, "tools": ["*"]}
            (home / ".copilot" / "mcp-config.json").write_text(
                json.dumps({"mcpServers": {"zindle": server}}))
        self.skill_home(home, ".copilot/skills")
        return ["copilot", "-p", prompt, "--allow-all-tools", "--no-auto-update"]

    def opencode_setup(self, base, home, work, events, prompt, setup, capture, env, url):
        # At start OpenCode installs its configuration folder's npm dependencies in the
        # background: the scripted model's server refuses them, so nothing leaves the machine.
        env.update({"OPENCODE_DISABLE_AUTOUPDATE": "1", "OPENCODE_DISABLE_MODELS_FETCH": "1",
                    "npm_config_registry": f"http://127.0.0.1:{self.port}/npm/"})
        # The plugin starts the tallyhook beside the zindle on PATH: here, one that keeps the
        # event and hands it to the hook. TALLYHOOK names it when it is elsewhere.
        bin_dir = base / "bin"
        bin_dir.mkdir()
        write_executable(bin_dir / "zindle", ZINDLE_ON_PATH)
        capturing = CAPTURING_HOOK.format(events=events, hook=self.hook)
        if "named" in setup:
            write_executable(base / "capturing-hook", capturing)
            env["TALLYHOOK"] = str(base / "capturing-hook")
        elif "no_hook" not in setup:
            write_executable(bin_dir / "tallyhook", capturing)
        env["PATH"] = env["PATH"].replace(str(self.tools_dir), str(bin_dir))
        (home / ".profile").write_text(f'PATH="{bin_dir}:$PATH"\n')
        install = self.blocks["opencode"][0].replace(README_PLUGIN_PATH, str(self.plugin))
        subprocess.run(["bash", "-euc", install], env=env, check=True)
        config = {
            "$schema": "https://opencode.ai/config.json",
            "autoupdate": False,
            "share": "disabled",
            "provider": {"fake": {
                "npm": "@ai-sdk/openai-compatible", "name": "scripted model",
                "options": {"baseURL": url + "/v1", "apiKey": "sk-dummy"},
                "models": {"scripted": {"name": "scripted", "tool_call": True}}}},
            "model": "fake/scripted",
        }
        if "mcp" in setup:
            config["mcp"] = {"zindle": {"type": "local", "command": self.mcp_server_args()}}
        (home / ".config" / "opencode" / "opencode.json").write_text(json.dumps(config, indent=2))
        self.skill_home(home, ".config/opencode/skills")
        return ["opencode", "run", prompt]

    # --- the verdict -------------------------------------------------------------------------

    def judge(self, case, base, home, events, status, seconds, err):
        problems = []
        if status != 0:
            problems.append(f"host exit status {status}")
        usage = home / ".zindle" / "usage.log"
        names = read_usage(usage)
        if sorted(names) != sorted(case.reported):
            problems.append(f"reported {names}, expected {case.reported}")
        captured = sorted(events.glob("*.json"))
        seen, sent, counted = [], [], []
        for i, path in enumerate(captured):
            data = path.read_bytes()
            try:
                event = json.loads(data)
            except ValueError:
                problems.append(f"{path.name} is no JSON")
                continue
            seen.append(event.get("hook_event_name") or UNNAMED)
            sent.append(event)
            skill, replay_problems = self.replay(path, data, base / "replay" / str(i))
            problems += replay_problems
            counted += [skill] if skill else []
        if sorted(counted) != sorted(case.counted):
            problems.append(f"the events one by one count {counted}, expected {case.counted}")
        if case.event == "-":
            if captured:
                problems.append(f"hooks ran ({len(captured)} events), expected none")
            # The README says that Codex keeps quiet about a hook it did not run, and that
            # the OpenCode plugin says nothing when it finds no hook.
            said = err.replace(str(self.root).encode(), b"").lower()
            if b"hook" in said:
                problems.append("the host now mentions hooks: see host.err, and the README")
        else:
            if case.event not in seen:
                problems.append(f"no {case.event} event (saw {sorted(set(seen))})")
            problems += self.doc_problems(case, sent)
        if self.args.keep_events and captured:
            self.keep(case, captured)
        return {"case": f"{case.host} {case.name}", "seconds": seconds, "problems": problems,
                "events": seen, "dir": str(base)}

    def replay(self, path, data, home):
        """The hook's own answer to the event the host sent, alone in a fresh home: the skill
        it reports, status 0, nothing on its standard output or error."""
        home.mkdir(parents=True)
        result = subprocess.run([str(self.hook)], input=data, capture_output=True, timeout=30,
                                env={"HOME": str(home), "PATH": "/usr/bin:/bin"})
        problems = []
        if result.returncode != 0:
            problems.append(f"hook exit status {result.returncode} on {path.name}: "
                            f"{result.stderr.decode(errors='replace').strip()}")
        elif result.stderr:
            problems.append(f"hook wrote to stderr on {path.name}: {result.stderr[:200]!r}")
        if result.stdout:
            problems.append(f"hook wrote {len(result.stdout)} bytes to stdout on {path.name}")
        reported = read_usage(home / ".zindle" / "usage.log")
        if len(reported) > 1:
            problems.append(f"one event, {len(reported)} reports: {path.name}")
        return (reported[0] if reported else None), problems

    def doc_problems(self, case, sent):
        """The host's pin, event names and tool names, against docs/HOSTS.md's table."""
        host = self.hosts[case.host]
        rows = [row for row in self.doc if f"`{host['package']}@" in row[1]]
        formats = [DOC_FORMATS[word] for word in case.setup.split() if word in DOC_FORMATS]
        rows = [row for row in rows if all(f in row[0] for f in formats)]
        if len(rows) != 1:
            return [f"docs/HOSTS.md has {len(rows)} rows for {host['package']} {formats}"]
        row = rows[0]
        problems = []
        pin = f"`{host['package']}@{host['version']}`"
        if not self.args.latest and pin not in row[1]:
            problems.append(f"docs/HOSTS.md's table does not pin {pin}")
        for event in sent:
            name = event.get("hook_event_name")
            if name and name not in names_in(row[2]):
                problems.append(f"event {name} is not in docs/HOSTS.md's table")
            if not name and "no event name" not in row[2]:
                problems.append("an event without a name, unlike docs/HOSTS.md's table")
        tools = {event.get("tool_name") or event.get("toolName") for event in sent}
        for kind, column in DOC_COLUMNS.items():
            if any(kind in step for step in case.steps) and not tools & names_in(row[column]):
                problems.append(f"no {kind} tool named as in docs/HOSTS.md "
                                f"({sorted(names_in(row[column]))}); the host sent "
                                f"{sorted(t for t in tools if t)}")
        return problems

    def keep(self, case, captured):
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
            (out / f"{case.host}_{case.name}_{i}.{kind}.json").write_bytes(data)


def read_usage(usage):
    """The skills the stand-in zindle was asked to report, in order."""
    if not usage.exists():
        return []
    return [line.split("\t", 1)[1] for line in usage.read_text(encoding="utf-8").splitlines()]


def end_session(sid):
    """Ends every process of the session SID: the host's own group and the groups its tools
    made (Gemini CLI and Qwen Code start each shell command in a group of its own)."""
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            stat = (entry / "stat").read_text()
            # After the command's name, in parentheses: state, ppid, pgrp, session.
            if int(stat[stat.rindex(")") + 2:].split()[3]) == sid:
                os.kill(int(entry.name), signal.SIGKILL)
        except (OSError, ValueError, IndexError):
            pass  # gone meanwhile


def toml_literal(text):
    return "'" + text + "'"


def write_executable(path, text):
    path.write_text(text)
    path.chmod(0o755)


def raise_interrupt(signum, frame):
    raise KeyboardInterrupt()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", nargs=5, action="append", required=True,
                        metavar=("KEY", "PACKAGE", "VERSION", "PROGRAM", "NODE_DIR"))
    parser.add_argument("--hook", required=True)
    parser.add_argument("--zindle", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("--hosts-doc", required=True)
    parser.add_argument("--copilot-cache", required=True)
    parser.add_argument("--latest", action="store_true",
                        help="the hosts are newer than docs/HOSTS.md's pins")
    parser.add_argument("--keep-events")
    parser.add_argument("--keep-temp", action="store_true")
    parser.add_argument("--only", help="run only the cases whose 'host name' contains this")
    parser.add_argument("--jobs", type=int, default=4)
    args = parser.parse_args()

    cases = [c for c in CASES if not args.only or args.only in f"{c.host} {c.name}"]
    if not cases:
        print(f"host-test: --only {args.only!r} matches no case", file=sys.stderr)
        return 2
    cases.sort(key=lambda c: START_ORDER.index(c.host))
    signal.signal(signal.SIGTERM, raise_interrupt)
    suite = Suite(args)
    started = time.monotonic()
    pool = concurrent.futures.ThreadPoolExecutor(args.jobs)
    try:
        suite.start_model(cases)
        results = list(pool.map(suite.run_case, cases))
    except KeyboardInterrupt:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        suite.interrupt()
        pool.shutdown(wait=True, cancel_futures=True)
        suite.stop_model()
        shutil.rmtree(suite.root, ignore_errors=True)
        print("host suite: interrupted; the hosts were ended and the run removed",
              file=sys.stderr)
        return 130
    finally:
        pool.shutdown(wait=True)
        suite.stop_model()
    failed = 0
    for r in sorted(results, key=lambda r: r["case"]):
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
