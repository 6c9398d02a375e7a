// What every scenario needs: the server run.sh started, Chromium, the users' working folders and
// tokens, signing in, and screenshots kept in the build tree.
import { execFile } from 'node:child_process';
import { createHash } from 'node:crypto';
import { mkdir, mkdtemp, readFile, rm, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { promisify } from 'node:util';
import assert from 'node:assert/strict';
import puppeteer from 'puppeteer-core';

const run = promisify(execFile);

function required(name) {
    const value = process.env[name];
    if (!value) {
        throw new Error(`${name} is not set: run the scenarios through run.sh`);
    }
    return value;
}

export const base = required('VYR_WEB_URL');
const scratch = required('VYR_WEB_SCRATCH');
const screenshots = required('VYR_WEB_SCREENSHOTS');
const vyrCld = required('VYR_CLD');
const serverProgram = required('VYR_CLD_SERVER_PROGRAM');

export const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');

// Every wait of a scenario is bounded by this, in milliseconds.
export const patience = 15000;

export async function launch() {
    // A fresh profile each run: nothing of an earlier run's cookies or cache may help a test pass.
    const profile = await mkdtemp(join(tmpdir(), 'vyr-web-chromium-'));
    const browser = await puppeteer.launch({
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        headless: true,
        userDataDir: profile,
        timeout: 30000,
        protocolTimeout: 60000,
        defaultViewport: { width: 1100, height: 700 },
        // Without the network switches Chromium keeps reaching for outside services.
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync'],
    }).catch(async (error) => {
        await rm(profile, { recursive: true, force: true });
        throw error;
    });
    return {
        browser,
        async close() {
            await browser.close();
            await rm(profile, { recursive: true, force: true });
        },
    };
}

// A page of its own browser context (own cookies), which records dialogs, what the browser's
// policy blocked, script errors and every address requested.
export async function openPage(browser, user) {
    const context = await browser.createBrowserContext();
    const page = await context.newPage();
    page.setDefaultTimeout(patience);
    page.dialogs = [];
    page.on('dialog', async (dialog) => {
        page.dialogs.push(dialog.message());
        await dialog.dismiss();
    });
    // What the browser refused to run or load, and the page's own script failures.
    page.problems = [];
    page.on('console', (message) => {
        if (/Content Security Policy/i.test(message.text())) {
            page.problems.push(message.text());
        }
    });
    page.on('pageerror', (error) => page.problems.push(error.message));
    page.addresses = [];
    page.on('request', (request) => page.addresses.push(request.url()));
    page.user = user;
    return page;
}

export async function token(user) {
    return (await readFile(join(scratch, 'tokens', user), 'utf8')).trim();
}

// Session ids handed out, which the server's log must never show.
const sessions = new Set();

export async function signIn(page) {
    await page.goto(`${base}/signin`);
    assert.equal((await signInHere(page)).pathname, '/projects', `${page.user} was not signed in`);
}

// Signs in on the sign-in form the page shows (where a deep link was sent, say), and answers the
// address the browser landed on.
export async function signInHere(page) {
    await page.type('#token', await token(page.user));
    await follow(page, '#signin');
    for (const cookie of await page.cookies()) {
        sessions.add(cookie.value);
    }
    return new URL(page.url());
}

// Clicks what the selector finds, as a user does, and answers the response the browser then
// navigated to.
export async function follow(page, selector) {
    const [response] = await Promise.all([page.waitForNavigation(), page.click(selector)]);
    return response;
}

// Submits a form by its button.
export async function submit(page, form) {
    return follow(page, `${form} button, ${form} [type="submit"]`);
}

// The page's visible text, white space folded.
export async function text(page, selector = 'body') {
    return page.$eval(selector, (element) => element.innerText.replace(/\s+/g, ' ').trim());
}

// A screenshot per scenario, named NN-what.png.
export async function shot(page, name) {
    await mkdir(screenshots, { recursive: true });
    const path = join(screenshots, `${name}.png`);
    await page.screenshot({ path, fullPage: true });
    return path;
}

// A user's working folder of one scenario file, on the team service.
export async function workingFolder(suite, user) {
    const folder = join(scratch, suite, user);
    await mkdir(join(scratch, suite), { recursive: true });
    await run(vyrCld, ['init', folder, '--server', base, '--token-file', join(scratch, 'tokens', user)],
        { timeout: patience });
    return {
        folder,
        user,
        async vyr(...args) {
            const { stdout } = await run(vyrCld, ['--json', '-C', folder, ...args], { timeout: 60000 });
            return JSON.parse(stdout);
        },
        async write(name, bytes) {
            await writeFile(join(folder, name), bytes);
        },
    };
}

// A project of the folder's user (its creator is its admin) with one partition, selected in the
// folder; `roles` then gives users their role in it on the server, {user: 'admin' or 'member'}.
export async function project(folder, name, number, roles = {}) {
    const created = await folder.vyr('project', 'create', name, '--number', number);
    const partition = await folder.vyr('partition', 'create', '--project', created.id, 'Drawings');
    await folder.vyr('use', created.id, partition.id);
    for (const [user, role] of Object.entries(roles)) {
        await run(serverProgram, ['project', 'grant', user, created.id, '--role', role], { timeout: patience });
    }
    return { id: created.id, spaceId: partition.id };
}

// A call of the team service's API as a user, for what the pages do not show in a form.
export async function api(user, method, path) {
    const response = await fetch(`${base}${path}`, {
        method,
        headers: { authorization: `Bearer ${await token(user)}` },
        signal: AbortSignal.timeout(patience),
    });
    const answer = await response.text();
    assert.ok(response.ok, `${method} ${path}: ${response.status} ${answer}`);
    return answer ? JSON.parse(answer) : null;
}

// The live file of a space, as the API answers it.
export async function file(user, spaceId, name) {
    return api(user, 'GET', `/v1/spaces/${spaceId}/file?name=${encodeURIComponent(name)}`);
}

// No request of the page named a token: sign-in posts it in the body, never in an address.
export async function assertNoTokenInAddresses(page) {
    const secret = await token(page.user);
    for (const address of page.addresses) {
        assert.ok(!address.includes(secret), `a token in ${address}`);
    }
}

// Closes the browser however the checks end: no page saw a dialog, a blocked load or script, a
// script error, or a token in an address, and the server's log shows no token and no session id.
export async function finish(chromium, pages) {
    try {
        for (const page of pages.filter(Boolean)) {
            assert.deepEqual(page.dialogs, [], `dialogs on ${page.user}'s page`);
            assert.deepEqual(page.problems, [], `problems on ${page.user}'s page`);
            await assertNoTokenInAddresses(page);
        }
        const log = await readFile(join(scratch, 'server.log'), 'utf8');
        const secrets = [...sessions, ...await Promise.all(['anna', 'bjorn', 'cora'].map(token))];
        assert.ok(sessions.size > 0 && log.includes('/signin'), 'the log is the one of these sessions');
        assert.deepEqual(secrets.filter((secret) => log.includes(secret)), [], 'secrets in the server log');
    }
    finally {
        await chromium?.close();
    }
}
