"""A stdio MCP server named zindle for the host suite: JSON-RPC 2.0, one message a line.

It offers two tools of the product's table, query_run and auth_doctor. A query_run whose
dataset is "emoji" answers with a text that ends inside a surrogate pair (a lone \\ud83d
escape), as a tool that cuts its output at a byte count would.
"""

import json
import sys

TOOLS = [
    {
        "name": "query_run",
        "description": "Run a query against a zindle dataset.",
        "inputSchema": {
            "type": "object",
            "properties": {"dataset": {"type": "string"}, "sql": {"type": "string"}},
            "required": ["dataset"],
        },
    },
    {
        "name": "auth_doctor",
        "description": "Check the zindle login.",
        "inputSchema": {"type": "object", "properties": {}},
    },
]


def call_tool(params):
    name = params.get("name")
    arguments = params.get("arguments") or {}
    if name == "query_run":
        text = "region\ttotal\nemea\t41 220.50 \u20ac\namer\t39 877.00 \u20ac"
        if arguments.get("dataset") == "emoji":
            text += "\n" + "\U0001F600" * 3 + "\ud83d"
        return {"content": [{"type": "text", "text": text}], "isError": False}
    if name == "auth_doctor":
        return {"content": [{"type": "text", "text": "token valid for 52 minutes"}],
                "isError": False}
    return {"content": [{"type": "text", "text": "unknown tool " + str(name)}], "isError": True}


def answer(request):
    method = request.get("method")
    params = request.get("params") or {}
    if method == "initialize":
        return {
            "protocolVersion": params.get("protocolVersion", "2025-06-18"),
            "capabilities": {"tools": {"listChanged": False}},
            "serverInfo": {"name": "zindle", "version": "0.1.0"},
        }
    if method == "tools/list":
        return {"tools": TOOLS}
    if method == "tools/call":
        return call_tool(params)
    if method == "ping":
        return {}
    if method in ("resources/list", "resources/templates/list", "prompts/list"):
        return {method.split("/")[0]: [], "resourceTemplates": []}
    return None


def main():
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            request = json.loads(line)
        except ValueError:
            continue
        if "id" not in request:
            continue  # a notification
        result = answer(request)
        if result is None:
            reply = {"jsonrpc": "2.0", "id": request["id"],
                     "error": {"code": -32601, "message": "method not found"}}
        else:
            reply = {"jsonrpc": "2.0", "id": request["id"], "result": result}
        # ensure_ascii writes a lone surrogate as its \\u escape, which is what the case wants.
        sys.stdout.write(json.dumps(reply, ensure_ascii=True) + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
