// The same server as socketio_server.py, on node's socket.io (installed by
// the test into its build directory; NODE_PATH points there).
const http = require("http");
const readline = require("readline");
const { Server } = require("socket.io");

const httpServer = http.createServer();
const io = new Server(httpServer, { serveClient: false });
const emit = (line) => process.stdout.write(line + "\n");
const argsText = (args) =>
  JSON.stringify(args.map((a) => (Buffer.isBuffer(a) ? a.toString("hex") : a)));

io.on("connection", (socket) => {
  emit("CONNECT /");
  socket.on("disconnect", () => emit("DISCONNECT /"));
  socket.on("chat", (...args) => {
    emit("EVENT chat " + argsText(args));
    socket.emit("chat", ...args);
  });
  socket.on("ask", (...args) => args.pop()("ok", args));
  socket.onAny((event, ...args) => {
    if (args.some((a) => Buffer.isBuffer(a)))
      emit("BINARY " + event + " " + args.filter(Buffer.isBuffer).map((a) => a.toString("hex")).join(""));
  });
});

const admin = io.of("/admin");
admin.use((socket, next) =>
  socket.handshake.auth.token === "secret" ? next() : next(new Error("not authorized")));
admin.on("connection", () => emit("CONNECT /admin"));

readline.createInterface({ input: process.stdin }).on("line", (line) => {
  if (line === "question")
    io.sockets.sockets.forEach((s) =>
      s.timeout(10000).emit("question", { q: 1 }, (err, ...args) => {
        if (!err) emit("ACK " + argsText(args));
      }));
  else if (line === "binary")
    io.emit("upload", { name: "x", data: Buffer.from([1, 2, 3]) });
});

httpServer.listen(0, "127.0.0.1", () => emit("PORT " + httpServer.address().port));
