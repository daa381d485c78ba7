-- wrk script for bench/http.sh: every request names its target by absolute URI, as a browser
-- talking to a proxy does, and asks for the connection to be closed after the response, so
-- each request is a fresh connection (a proxy's usual load, and the same for every row).
--
--   wrk -s absolute.lua http://PROXY-HOST:PORT/ -- http://ORIGIN-HOST:PORT/PATH [HEADER-LINE...]
--
-- The connection goes to the host on wrk's own command line; the request line names the URL
-- after "--", and further arguments are header lines added to every request (such as
-- "Pragma: no-cache", a browser's reload). done() prints one line for bench/http.sh:
--   RESULT <microseconds> <responses> <bytes> <connect> <read> <write> <status> <timeout>
-- (the last five are wrk's error counts; "status" counts responses other than 2xx and 3xx).

local request_text

function init(args)
    local target = args[1]
    local authority = target and target:match("^http://([^/]+)")
    if not authority then
        error("usage: wrk -s absolute.lua PROXY-URL -- http://HOST[:PORT]/PATH")
    end
    local extra = ""
    for i = 2, #args do
        extra = extra .. args[i] .. "\r\n"
    end
    request_text = "GET " .. target .. " HTTP/1.1\r\n" ..
                   "Host: " .. authority .. "\r\n" ..
                   "User-Agent: norvane-bench\r\n" ..
                   "Accept: */*\r\n" .. extra ..
                   "Connection: close\r\n\r\n"
end

function request()
    return request_text
end

function done(summary, latency, requests)
    local e = summary.errors
    io.write(string.format("RESULT %d %d %d %d %d %d %d %d\n", summary.duration,
                           summary.requests, summary.bytes, e.connect, e.read, e.write,
                           e.status, e.timeout))
end
