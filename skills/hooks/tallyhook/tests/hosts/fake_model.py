"""A scripted model on 127.0.0.1 for the host suite, speaking the wire formats the hosts use:
the Anthropic Messages API (Claude Code), the OpenAI Responses API (Codex CLI), OpenAI Chat
Completions (Qwen Code, Copilot CLI, OpenCode) and the Gemini API (Gemini CLI).

Usage: fake_model.py SCRIPTS.json LOG_FILE   (prints the port it listens on)
(With FAKE_MODEL_DUMP=FILE it also appends every request body to FILE: how a new host release
is studied.)

SCRIPTS.json maps a case name to its list of steps. A host reaches its case through the base
URL it is given: http://127.0.0.1:PORT/<case>/v1/... Each step is one tool call, abstract
enough for any host:
  {"shell": "zindle auth status"}             the host's shell tool, whatever its name and shape
  {"skill": "zin-auth"}                       the host's skill tool, whatever its name and shape
  {"tool": "Skill", "input": {...}}           a tool by name
  {"mcp": "query_run", "input": {...}}        the zindle server's MCP tool query_run, in the
                                              host's naming (mcp__zindle__query_run,
                                              mcp_zindle_query_run, zindle-query_run, ...)
  {"read": "/abs/path"}                       the host's file-reading tool
  {"patch": "*** Begin Patch ..."}            Codex's freeform apply_patch
After the last step the model answers with a short text.

Stateless: the step to take is read off the conversation the host sends back (how many of the
case's calls it already holds), so retries and side requests cannot move the script along.
"""

import json
import os
import re
import sys
import threading
import time
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SEARCH_TOOLS = ("ToolSearch", "tool_search")
SHELL_TOOLS = ("Bash", "exec_command", "shell_command", "shell", "local_shell",
               "run_shell_command", "bash")
SKILL_TOOLS = ("Skill", "activate_skill", "skill")
READ_TOOLS = ("Read", "read_file", "read", "view")
# The member that names a skill or a file, in the order a schema is asked for them.
SKILL_MEMBERS = ("skill", "name", "command")
PATH_MEMBERS = ("file_path", "absolute_path", "filePath", "path")
FINAL_TEXT = "Done."

scripts = {}
log_lock = threading.Lock()
log_file = None


def log(record):
    with log_lock:
        log_file.write(json.dumps(record) + "\n")
        log_file.flush()


# --- What the host offers ---------------------------------------------------------------


def tool_name(tool):
    # Responses API function tools carry the name at the top; Chat Completions nests it.
    return tool.get("name") or (tool.get("function") or {}).get("name") or ""


def tool_schema(tool):
    tool = tool.get("function") or tool
    return (tool.get("input_schema") or tool.get("parameters")
            or tool.get("parametersJsonSchema") or {})


def schema_member(tools, name, members):
    """The first of `members` that the tool's schema has (the first of them if none)."""
    props = tool_schema(tools.get(name) or {}).get("properties") or {}
    return next((m for m in members if m in props), members[0])


def offered_tools(body):
    """Every tool the request offers, by full name. Codex groups MCP tools in namespaces, and
    a tool found through its tool_search arrives in the search's output, not in "tools"."""
    tools = {}

    def add(tool, namespace=None):
        if tool.get("type") == "namespace":
            for inner in tool.get("tools") or []:
                add(inner, tool_name(tool))
            return
        # Codex offers its search tool by type alone.
        name = tool_name(tool) or ("tool_search" if tool.get("type") == "tool_search" else "")
        if name and namespace:
            tools[namespace + "__" + name] = dict(tool, namespace=namespace)
        elif name:
            tools[name] = tool

    for tool in body.get("tools") or []:
        # The Gemini API groups a request's functions in one or more tool objects.
        for declaration in tool.get("functionDeclarations") or tool.get("function_declarations") or []:
            add(declaration)
        add(tool)
    items = body.get("input")
    for item in items if isinstance(items, list) else []:
        if item.get("type") == "tool_search_output":
            for tool in item.get("tools") or []:
                add(tool)
    return tools


def shell_call(tools, command):
    """The shell tool's name and arguments, learnt from its schema."""
    for name in SHELL_TOOLS:
        if name in tools:
            props = tool_schema(tools[name]).get("properties") or {}
            if "cmd" in props:
                return name, {"cmd": command}
            if (props.get("command") or {}).get("type") == "array":
                return name, {"command": ["bash", "-lc", command]}
            return name, {"command": command}
    return None


def mcp_tool(tools, short_name):
    """The host's name for the zindle server's tool: "mcp__zindle__query_run",
    "mcp_zindle_query_run", "zindle-query_run", "zindle_query_run", or the bare name."""
    for name in tools:
        if name == short_name or name.endswith("__" + short_name):
            return name
        if "zindle" in name and name.endswith(short_name) and name[-len(short_name) - 1] in "_-":
            return name
    return None


def named_tool(tools, candidates):
    return next((name for name in candidates if name in tools), None)


# --- What the host has already done ------------------------------------------------------


def anthropic_calls(body):
    calls = []
    for message in body.get("messages") or []:
        if message.get("role") != "assistant" or not isinstance(message.get("content"), list):
            continue
        for block in message["content"]:
            if block.get("type") == "tool_use":
                calls.append((block.get("name"), block.get("input") or {}))
    return calls


def responses_calls(body):
    calls = []
    items = body.get("input")
    for item in items if isinstance(items, list) else []:
        kind = item.get("type")
        if kind == "function_call":
            try:
                arguments = json.loads(item.get("arguments") or "{}")
            except ValueError:
                arguments = {}
            calls.append((item.get("name"), arguments))
        elif kind in ("custom_tool_call", "tool_search_call"):
            calls.append((item.get("name") or kind, item.get("input") or item.get("arguments")))
    return calls


def chat_calls(body):
    calls = []
    for message in body.get("messages") or []:
        if message.get("role") != "assistant":
            continue
        for call in message.get("tool_calls") or []:
            function = call.get("function") or {}
            try:
                arguments = json.loads(function.get("arguments") or "{}")
            except ValueError:
                arguments = {}
            calls.append((function.get("name"), arguments))
    return calls


def gemini_calls(body):
    calls = []
    for content in body.get("contents") or []:
        if content.get("role") != "model":
            continue
        for part in content.get("parts") or []:
            call = part.get("functionCall") or part.get("function_call")
            if call:
                calls.append((call.get("name"), call.get("args") or {}))
    return calls


def next_call(case, tools, calls, raw):
    """The next call to make, or None when the script is done."""
    searched = [c for c in calls if c[0] in SEARCH_TOOLS or c[0] == "tool_search_call"]
    done = len(calls) - len(searched)
    steps = scripts.get(case, [])
    if done >= len(steps):
        return None
    step = steps[done]
    if "shell" in step:
        return shell_call(tools, step["shell"]) or ("Bash", {"command": step["shell"]})
    if "read" in step:
        name = named_tool(tools, READ_TOOLS) or "Read"
        return name, {schema_member(tools, name, PATH_MEMBERS): step["read"]}
    if "skill" in step:
        name = named_tool(tools, SKILL_TOOLS) or "Skill"
        return name, {schema_member(tools, name, SKILL_MEMBERS): step["skill"]}
    if "patch" in step:
        return "apply_patch", step["patch"]
    if "tool" in step:
        return step["tool"], step.get("input", {})
    # An MCP tool: where the host keeps it behind a search tool, search for it first.
    name = mcp_tool(tools, step["mcp"])
    if name is None:
        for search in SEARCH_TOOLS:
            if search in tools and len(searched) == 0:
                target = deferred_name(raw, step["mcp"])
                if search == "ToolSearch":
                    return search, {"query": "select:" + target}
                return search, {"query": target}
        # Some hosts (Qwen Code) answer the search with the tool's name but offer it no
        # further: call it by that name.
        name = deferred_name(raw, step["mcp"])
    return name, step.get("input", {})


def deferred_name(raw, short_name):
    # The host names its deferred tools somewhere in the request (a list in the prompt); the
    # short name alone is a fair query where it does not.
    found = re.search(rb"mcp__[A-Za-z0-9_-]*?__" + re.escape(short_name.encode()) + rb"\b", raw)
    return found.group(0).decode() if found else short_name


# --- Writing the answers ----------------------------------------------------------------


def sse(handler, events):
    handler.send_response(200)
    handler.send_header("Content-Type", "text/event-stream")
    handler.send_header("Cache-Control", "no-cache")
    handler.send_header("Connection", "close")
    handler.end_headers()
    for name, data in events:
        # Chat Completions and the Gemini API send unnamed events; "[DONE]" is sent bare.
        line = data if isinstance(data, str) else json.dumps(data)
        head = f"event: {name}\n" if name else ""
        handler.wfile.write(f"{head}data: {line}\n\n".encode())
    handler.wfile.flush()
    handler.close_connection = True


def anthropic_answer(handler, body, call):
    model = body.get("model", "claude")
    usage = {"input_tokens": 10, "output_tokens": 1}
    if call is None:
        block = {"type": "text", "text": ""}
        delta = {"type": "text_delta", "text": FINAL_TEXT}
        stop = "end_turn"
    else:
        name, arguments = call
        block = {"type": "tool_use", "id": "toolu_" + uuid.uuid4().hex[:24], "name": name,
                 "input": {}}
        delta = {"type": "input_json_delta", "partial_json": json.dumps(arguments)}
        stop = "tool_use"
    message = {"id": "msg_" + uuid.uuid4().hex[:24], "type": "message", "role": "assistant",
               "model": model, "content": [], "stop_reason": None, "stop_sequence": None,
               "usage": usage}
    if not body.get("stream"):
        full = dict(block)
        if call is None:
            full["text"] = FINAL_TEXT
        else:
            full["input"] = call[1]
        message.update(content=[full], stop_reason=stop)
        return json_answer(handler, message)
    sse(handler, [
        ("message_start", {"type": "message_start", "message": message}),
        ("content_block_start", {"type": "content_block_start", "index": 0,
                                 "content_block": block}),
        ("content_block_delta", {"type": "content_block_delta", "index": 0, "delta": delta}),
        ("content_block_stop", {"type": "content_block_stop", "index": 0}),
        ("message_delta", {"type": "message_delta",
                           "delta": {"stop_reason": stop, "stop_sequence": None},
                           "usage": {"output_tokens": 5}}),
        ("message_stop", {"type": "message_stop"}),
    ])


def responses_answer(handler, body, tools, call):
    response_id = "resp_" + uuid.uuid4().hex[:24]
    call_id = "call_" + uuid.uuid4().hex[:24]
    if call is None:
        item = {"type": "message", "id": "msg_" + uuid.uuid4().hex[:24], "role": "assistant",
                "status": "completed",
                "content": [{"type": "output_text", "text": FINAL_TEXT, "annotations": []}]}
    elif call[0] == "tool_search":
        item = {"type": "tool_search_call", "id": "ts_" + uuid.uuid4().hex[:24],
                "call_id": call_id, "execution": "client", "status": "completed",
                "arguments": call[1]}
    elif isinstance(call[1], str):
        # A freeform tool (apply_patch): its input is the raw text.
        item = {"type": "custom_tool_call", "id": "ctc_" + uuid.uuid4().hex[:24],
                "call_id": call_id, "name": call[0], "input": call[1], "status": "completed"}
    else:
        item = {"type": "function_call", "id": "fc_" + uuid.uuid4().hex[:24], "call_id": call_id,
                "name": call[0], "arguments": json.dumps(call[1]), "status": "completed"}
        namespace = (tools.get(call[0]) or {}).get("namespace")
        if namespace:
            item.update(name=call[0][len(namespace) + 2:], namespace=namespace)
    usage = {"input_tokens": 10, "input_tokens_details": {"cached_tokens": 0},
             "output_tokens": 5, "output_tokens_details": {"reasoning_tokens": 0},
             "total_tokens": 15}
    response = {"id": response_id, "object": "response", "status": "in_progress",
                "model": body.get("model", "gpt"), "output": []}
    done = dict(response, status="completed", output=[item], usage=usage)
    sse(handler, [
        ("response.created", {"type": "response.created", "response": response}),
        ("response.output_item.added", {"type": "response.output_item.added",
                                        "output_index": 0, "item": item}),
        ("response.output_item.done", {"type": "response.output_item.done", "output_index": 0,
                                       "item": item}),
        ("response.completed", {"type": "response.completed", "response": done}),
    ])


def chat_answer(handler, body, call):
    """OpenAI Chat Completions: one chunk with the whole tool call (or text), then the finish
    and the usage; or the whole message when the host did not ask for a stream."""
    base = {"id": "chatcmpl-" + uuid.uuid4().hex[:24], "created": int(time.time()),
            "model": body.get("model", "gpt")}
    usage = {"prompt_tokens": 10, "completion_tokens": 5, "total_tokens": 15}
    if call is None:
        message = {"role": "assistant", "content": FINAL_TEXT}
        finish = "stop"
    else:
        message = {"role": "assistant", "content": None, "tool_calls": [
            {"index": 0, "id": "call_" + uuid.uuid4().hex[:24], "type": "function",
             "function": {"name": call[0], "arguments": json.dumps(call[1])}}]}
        finish = "tool_calls"
    if not body.get("stream"):
        return json_answer(handler, dict(base, object="chat.completion", usage=usage, choices=[
            {"index": 0, "message": message, "finish_reason": finish}]))
    chunk = dict(base, object="chat.completion.chunk")
    sse(handler, [
        (None, dict(chunk, choices=[{"index": 0, "delta": message, "finish_reason": None}])),
        (None, dict(chunk, choices=[{"index": 0, "delta": {}, "finish_reason": finish}])),
        (None, dict(chunk, choices=[], usage=usage)),
        (None, "[DONE]"),
    ])


def from_schema(schema):
    """The plainest value a JSON schema accepts: side requests (Gemini CLI's model router)
    ask for JSON of a given shape and retry, with back-off, until they get it."""
    kind = str(schema.get("type", "object")).lower()
    if schema.get("enum"):
        return schema["enum"][0]
    if kind == "object":
        props = schema.get("properties") or {}
        return {name: from_schema(props[name]) for name in schema.get("required") or props}
    return {"string": "", "integer": 1, "number": 1, "boolean": False, "array": []}.get(kind)


def gemini_answer(handler, body, call, stream):
    config = body.get("generationConfig") or {}
    schema = config.get("responseJsonSchema") or config.get("responseSchema")
    if call is None and schema:
        part = {"text": json.dumps(from_schema(schema))}
    elif call is None:
        part = {"text": FINAL_TEXT}
    else:
        part = {"functionCall": {"name": call[0], "args": call[1]}}
    answer = {"candidates": [{"content": {"role": "model", "parts": [part]},
                              "finishReason": "STOP", "index": 0}],
              "usageMetadata": {"promptTokenCount": 10, "candidatesTokenCount": 5,
                                "totalTokenCount": 15},
              "modelVersion": "gemini-2.5-pro", "responseId": uuid.uuid4().hex[:24]}
    if not stream:
        return json_answer(handler, answer)
    sse(handler, [(None, answer)])


def json_answer(handler, data, status=200):
    payload = json.dumps(data).encode()
    handler.send_response(status)
    handler.send_header("Content-Type", "application/json")
    handler.send_header("Content-Length", str(len(payload)))
    handler.end_headers()
    handler.wfile.write(payload)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def split_path(self):
        # /<case>/v1/... ; anything else belongs to no case.
        parts = self.path.split("?")[0].strip("/").split("/", 1)
        if len(parts) == 2 and parts[0] in scripts:
            return parts[0], "/" + parts[1]
        return None, self.path.split("?")[0]

    def do_GET(self):
        case, path = self.split_path()
        log({"case": case, "method": "GET", "path": path})
        if path.endswith("/models"):
            return json_answer(self, {"object": "list", "data": [], "models": []})
        json_answer(self, {})

    def do_HEAD(self):
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        case, path = self.split_path()
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length)
        try:
            body = json.loads(raw or b"{}")
        except ValueError:
            body = {}
        tools = offered_tools(body)
        record = {"case": case, "method": "POST", "path": path, "tools": sorted(tools)}
        if os.environ.get("FAKE_MODEL_DUMP"):
            with log_lock, open(os.environ["FAKE_MODEL_DUMP"], "ab") as dump:
                dump.write(raw + b"\n")
        if path.endswith("/messages/count_tokens"):
            log(record)
            return json_answer(self, {"input_tokens": 10})
        if path.endswith("/messages"):
            # Side requests (titles, summaries, quota checks) offer no tools: a plain answer.
            call = next_call(case, tools, anthropic_calls(body), raw) if tools else None
            record["call"] = call
            log(record)
            return anthropic_answer(self, body, call)
        if path.endswith("/responses"):
            call = next_call(case, tools, responses_calls(body), raw) if tools else None
            record["call"] = call
            log(record)
            return responses_answer(self, body, tools, call)
        if path.endswith("/chat/completions"):
            call = next_call(case, tools, chat_calls(body), raw) if tools else None
            record["call"] = call
            log(record)
            return chat_answer(self, body, call)
        if path.endswith(":countTokens"):
            log(record)
            return json_answer(self, {"totalTokens": 10})
        if path.endswith(":generateContent") or path.endswith(":streamGenerateContent"):
            call = next_call(case, tools, gemini_calls(body), raw) if tools else None
            record["call"] = call
            log(record)
            return gemini_answer(self, body, call, path.endswith(":streamGenerateContent"))
        log(record)
        json_answer(self, {})


def main():
    global log_file
    with open(sys.argv[1], encoding="utf-8") as f:
        scripts.update(json.load(f))
    log_file = open(sys.argv[2], "a", encoding="utf-8")
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    # The port, on a line of its own: the runner waits for it instead of polling.
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
