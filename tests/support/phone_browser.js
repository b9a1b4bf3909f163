// A phone's browser for the tests: Debian's chromium, headless, in a phone's portrait size, driven by
// puppeteer-core. It reads one command per line on stdin and answers one line on stdout:
//   open URL         opens the address (a pairing address, or the remote page) and waits for it -> "ok <final URL>"
//   code URL CODE    opens the pairing page at URL, types the six-digit code and sends it
//                    -> "ok <final URL> remote|pair <the page's error line>"
//   rows             waits for the remote page to show the menu  -> "ok <n rows> <title>"
//   tap N            taps row N                                  -> "ok"
//   key NAME         taps the key button with that data-key      -> "ok"
//   power            taps Power and accepts its question         -> "ok"
//   send URL         types an address into "send to TV"          -> "ok <status>"
//   favourite URL NAME  types an address and a name and taps "收藏" -> "ok <status>"
//   list L N         waits for N entries in list L (favourites, watching) -> "ok <their names, | between>"
//   press L N        taps the button of entry N of list L ("删除", the row) -> "ok <status>"
//   speech           taps the switch of spoken menus             -> "ok <status>"
//   speech? on|off   waits for the switch to show on or off      -> "ok"
//   visit URL        opens a page of another site in a new tab and waits for its report -> "ok <its report>"
//   cookie           the pairing cookie's flags                  -> "ok httpOnly=<b> sameSite=<s>"
'use strict';
const path = require('path');
const readline = require('readline');
const puppeteer = require(path.join(process.argv[2], 'node_modules', 'puppeteer-core'));

(async () => {
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
  });
  const page = await browser.newPage();
  await page.setViewport({ width: 390, height: 844, isMobile: true, hasTouch: true });
  page.on('dialog', (d) => d.accept());
  page.on('console', (m) => process.stderr.write('phone page: ' + m.text() + '\n'));
  page.on('pageerror', (e) => process.stderr.write('phone page error: ' + e.message + '\n'));
  const say = (line) => process.stdout.write(line + '\n');
  const lines = readline.createInterface({ input: process.stdin });
  for await (const line of lines) {
    const [command, ...rest] = line.trim().split(' ');
    const arg = rest.join(' ');
    try {
      if (command === 'open') {
        await page.goto(arg, { waitUntil: 'load' });
        say('ok ' + page.url());
      } else if (command === 'code') {
        await page.goto(rest[0], { waitUntil: 'load' });
        await page.type('#code', rest[1]);
        const moved = page.waitForNavigation({ waitUntil: 'load', timeout: 15000 }).catch(() => null);
        await page.tap('#pair button');
        await moved;
        const remote = (await page.$('#rows')) !== null;
        const error = remote ? '' : await page.$eval('#error', (e) => e.textContent);
        say(('ok ' + page.url() + ' ' + (remote ? 'remote' : 'pair') + ' ' + error).trim());
      } else if (command === 'rows') {
        await page.waitForFunction(() => window.__shown > 0 && document.querySelectorAll('#rows button').length > 0);
        const n = await page.$$eval('#rows button', (b) => b.length);
        say('ok ' + n + ' ' + (await page.$eval('#title', (e) => e.textContent)));
      } else if (command === 'tap') {
        const shown = await page.evaluate(() => window.__shown);
        await page.tap('#rows button:nth-child(' + (Number(arg) + 1) + ')');
        await page.waitForFunction((s) => window.__shown > s, {}, shown);
        say('ok');
      } else if (command === 'key') {
        const answered = page.waitForResponse((r) => r.url().endsWith('/key'));
        await page.tap('[data-key="' + arg + '"]');
        say('ok ' + (await answered).status());
      } else if (command === 'power') {
        // (A click by the page's own script: the lists above it may be redrawn while a tap looks for its place.)
        await page.$eval('#power', (e) => e.click());
        say('ok');
      } else if (command === 'send') {
        await page.$eval('#url', (e, v) => { e.value = v; }, arg);
        const answered = page.waitForResponse((r) => r.url().endsWith('/send'));
        await page.tap('#send button');
        say('ok ' + (await answered).status());
      } else if (command === 'favourite') {
        const [url, ...name] = arg.split(' ');
        await page.$eval('#url', (e, v) => { e.value = v; }, url);
        await page.$eval('#name', (e, v) => { e.value = v; }, name.join(' '));
        const answered = page.waitForResponse((r) => r.url().endsWith('/favourite'));
        await page.tap('#favourite');
        say('ok ' + (await answered).status());
      } else if (command === 'list' || command === 'press') {
        // The lists below the keys: where each entry's name is, and what its button asks.
        const lists = { favourites: ['#favourites span', '/unfavourite'], watching: ['#watching button', '/watch'] };
        const [name, n] = arg.split(' ');
        const [names, path] = lists[name];
        if (command === 'list') {
          await page.waitForFunction((s, n) => document.querySelectorAll(s).length === n, {}, names, Number(n));
          say('ok ' + (await page.$$eval(names, (s) => s.map((e) => e.textContent).join('|'))));
        } else {
          const answered = page.waitForResponse((r) => r.url().endsWith(path));
          await page.$$eval('#' + name + ' button', (b, n) => b[n].click(), Number(n));
          say('ok ' + (await answered).status());
        }
      } else if (command === 'speech') {
        const answered = page.waitForResponse((r) => r.url().endsWith('/speech'));
        await page.$eval('#speech', (e) => e.click());
        say('ok ' + (await answered).status());
      } else if (command === 'speech?') {
        await page.waitForFunction((on) => document.getElementById('speech').checked === on, {}, arg === 'on');
        say('ok');
      } else if (command === 'visit') {
        const other = await browser.newPage();
        await other.goto(arg, { waitUntil: 'load' });
        await other.waitForFunction(() => window.report !== undefined);
        say('ok ' + (await other.evaluate(() => window.report)));
        await other.close();
      } else if (command === 'cookie') {
        const [c] = await page.cookies();
        say('ok httpOnly=' + (c && c.httpOnly) + ' sameSite=' + (c && c.sameSite));
      } else {
        say('error unknown command ' + command);
      }
    } catch (e) {
      say('error ' + String(e.message || e).split('\n')[0]);
    }
  }
  await browser.close();
})().catch((e) => {
  process.stdout.write('error ' + e + '\n');
  process.exit(1);
});
