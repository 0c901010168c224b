// Reads the PNG files the runtime writes (8-bit RGB or RGBA, not interlaced) into RGBA.
import { inflateSync } from "node:zlib";

function paeth(a, b, c) {
  const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

export function decodePng(bytes) {
  let at = 8, width = 0, height = 0, colour = 0;
  const data = [];
  while (at < bytes.length) {
    const length = bytes.readUInt32BE(at), type = bytes.toString("latin1", at + 4, at + 8);
    const body = bytes.subarray(at + 8, at + 8 + length);
    if (type === "IHDR") {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || body[12] !== 0) throw new Error("only 8-bit pictures without interlace");
      colour = body[9];
    } else if (type === "IDAT") {
      data.push(body);
    }
    at += 12 + length;
  }
  const channels = colour === 6 ? 4 : colour === 2 ? 3 : 0;
  if (!channels) throw new Error("only RGB and RGBA pictures");
  const raw = inflateSync(Buffer.concat(data));
  const stride = width * channels, rows = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const left = x >= channels ? rows[y * stride + x - channels] : 0;
      const up = y > 0 ? rows[(y - 1) * stride + x] : 0;
      const corner = y > 0 && x >= channels ? rows[(y - 1) * stride + x - channels] : 0;
      const predictor = [0, left, up, (left + up) >> 1, paeth(left, up, corner)][filter];
      rows[y * stride + x] = (line[x] + predictor) & 0xFF;
    }
  }
  const rgba = Buffer.alloc(width * height * 4);
  for (let i = 0; i < width * height; ++i) {
    for (let c = 0; c < 3; ++c) rgba[i * 4 + c] = rows[i * channels + c];
    rgba[i * 4 + 3] = 255;
  }
  return { width, height, rgba };
}
