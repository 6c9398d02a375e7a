// What the pages must withstand: hostile names, forged forms, another tenant's addresses, and a
// session that outlives its sign-out.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import * as web from './harness.js';

const hostileProject = '<script>alert(1)</script>';
const hostileNumber = `'"><svg onload=alert(2)>`;
// A file name may hold no < > " (a Windows folder could not hold it): its attack is on single
// quotes, entities and escapes instead.
const hostileFile = "x' onfocus='alert(1)' autofocus='&amp;%22;.txt";
const hostileDescription = '<img src=x onerror=alert(3)>';
const hostileLogicalId = '"><script>alert(4)</script>';

// The headers every page answers with; parsed, so that a directive's place does not matter.
function assertSafetyHeaders(response) {
    const headers = response.headers();
    const where = response.url();
    const policy = new Map((headers['content-security-policy'] ?? '').split(';').map((directive) => {
        const [name, ...values] = directive.trim().split(/\s+/);
        return [name, values.join(' ')];
    }));
    const expected = {
        'default-src': "'none'", 'script-src': "'self'", 'style-src': "'self'", 'img-src': "'self'",
        'form-action': "'self'", 'frame-ancestors': "'none'", 'base-uri': "'none'",
    };
    for (const [name, value] of Object.entries(expected)) {
        assert.equal(policy.get(name), value, `${name} of ${where}`);
    }
    assert.equal(headers['x-content-type-options'], 'nosniff', where);
    assert.equal(headers['referrer-policy'], 'no-referrer', where);
    assert.equal(headers['cache-control'], 'no-store', where);
}

describe('the pages under attack', () => {
    let chromium, anna, page, hostile, harbour;
    // Every page opened, checked when the browser closes.
    const pages = [];

    before(async () => {
        chromium = await web.launch();
        anna = await web.workingFolder('safety', 'anna');
        const project = await web.project(anna, hostileProject, hostileNumber);
        await anna.write(hostileFile, 'hostile\n');
        await anna.vyr('upload', hostileFile);
        // Its events and a viewer update name it too.
        await anna.vyr('lock', hostileFile);
        await anna.vyr('unlock', hostileFile);
        await anna.vyr('viewer', '2d', hostileFile, '--epsg', '4326', '--description', hostileDescription,
            '--logical-id', hostileLogicalId);
        await anna.write('notes.txt', 'notes\n');
        await anna.vyr('upload', 'notes.txt');
        hostile = { ...project, fileId: (await web.file('anna', project.spaceId, hostileFile)).id,
            notesId: (await web.file('anna', project.spaceId, 'notes.txt')).id };

        const cora = await web.workingFolder('safety', 'cora');
        const quay = await web.project(cora, 'Harbour quay', 'H-1');
        await cora.write('quay.dwg', 'quay\n');
        await cora.vyr('upload', 'quay.dwg');
        await cora.vyr('lock', 'quay.dwg');
        harbour = { ...quay, fileId: (await web.file('cora', quay.spaceId, 'quay.dwg')).id, folder: cora };

        page = await web.openPage(chromium.browser, 'anna');
        pages.push(page);
        await web.signIn(page);
    });
    after(() => web.finish(chromium, pages));

    test('hostile names show as text on every page that names them, and no script runs', async () => {
        const pages = [
            { address: '/projects', names: [hostileProject, hostileNumber] },
            { address: `/projects?q=${encodeURIComponent(hostileProject)}`, names: [hostileProject] },
            { address: `/projects/${hostile.id}`, names: [hostileProject] },
            { address: `/spaces/${hostile.spaceId}`, names: [hostileFile] },
            { address: `/files/${hostile.fileId}`, names: [hostileFile], shot: '10-hostile-file' },
            { address: `/projects/${hostile.id}/updates`, names: [hostileProject, hostileFile, hostileDescription, hostileLogicalId],
                shot: '09-hostile-updates' },
            { address: '/events', names: [hostileFile] },
        ];
        for (const { address, names, shot } of pages) {
            const response = await page.goto(`${web.base}${address}`);
            assert.equal(response.status(), 200, address);
            assertSafetyHeaders(response);
            const shown = await web.text(page);
            for (const name of names) {
                assert.ok(shown.includes(name), `${name} shown on ${address}`);
            }
            // Nothing the names spelled became an element, and the only script is the site's own.
            const made = await page.evaluate(() => ({
                elements: document.querySelectorAll('img, svg, script:not([src])').length,
                scripts: [...document.scripts].map((script) => new URL(script.src).pathname),
            }));
            assert.equal(made.elements, 0, address);
            assert.deepEqual(made.scripts.filter((path) => path !== '/static/app.js'), [], address);
            if (shot) {
                await web.shot(page, shot);
            }
        }
        // The search box keeps what was asked, as text.
        await page.goto(`${web.base}/projects?q=${encodeURIComponent(hostileFile)}`);
        assert.equal(await page.$eval('#search', (input) => input.value), hostileFile);
        assert.deepEqual(page.dialogs, []);
    });

    test('a hostile file name downloads with its bytes, under a header that keeps the name whole', async () => {
        const [session] = (await page.cookies()).filter((cookie) => cookie.name === 'vyr_session');
        const response = await fetch(`${web.base}/files/${hostile.fileId}/revisions/1/content`, {
            headers: { cookie: `vyr_session=${session.value}` }, signal: AbortSignal.timeout(web.patience),
        });
        assert.equal(response.status, 200);
        assert.equal(response.headers.get('content-type'), 'application/octet-stream');
        assert.equal(Buffer.from(await response.arrayBuffer()).toString(), 'hostile\n');
        const disposition = response.headers.get('content-disposition');
        const encoded = /filename\*=UTF-8''([^;\s]+)/.exec(disposition)?.[1];
        assert.equal(decodeURIComponent(encoded ?? ''), hostileFile, disposition);
        // The plain name is one quoted string: no quote of the name ends it early.
        assert.match(disposition, /^attachment; filename="(?:[^"\\]|\\.)*"; filename\*=/, disposition);
    });

    test('a state-changing form without its session\'s CSRF token is refused and changes nothing', async () => {
        await anna.vyr('lock', 'notes.txt');
        // A GET of the form's address changes nothing either.
        const got = await page.goto(`${web.base}/files/${hostile.notesId}/unlock`);
        assert.ok([404, 405].includes(got.status()), `GET of the unlock address: ${got.status()}`);
        // Another session's token is as bad as none.
        const bjorn = await web.openPage(chromium.browser, 'bjorn');
        pages.push(bjorn);
        await web.signIn(bjorn);
        const othersToken = await bjorn.$eval('form[action="/signout"] input[name="csrf"]', (input) => input.value);
        assert.ok(othersToken.length >= 16);
        await bjorn.browserContext().close();

        const forgeries = [
            { name: 'break lock, no token', form: '#break-lock', token: null },
            { name: 'break lock, empty token', form: '#break-lock', token: '' },
            { name: 'break lock, wrong token', form: '#break-lock', token: 'f'.repeat(64) },
            { name: 'break lock, another session\'s token', form: '#break-lock', token: othersToken },
            { name: 'sign out, no token', form: 'form[action="/signout"]', token: null },
        ];
        const filePage = `${web.base}/files/${hostile.notesId}`;
        for (const forgery of forgeries) {
            await page.goto(filePage);
            await page.$eval(forgery.form, (form, token) => {
                const field = form.querySelector('input[name="csrf"]');
                if (token === null) {
                    field.remove();
                }
                else {
                    field.value = token;
                }
            }, forgery.token);
            const response = await web.submit(page, forgery.form);
            assert.equal(response.status(), 403, forgery.name);
            assertSafetyHeaders(response);
            if (forgery === forgeries[0]) {
                await web.shot(page, '11-csrf-refused');
            }
            // Still signed in, still locked.
            assert.equal((await page.goto(filePage)).status(), 200, forgery.name);
            assert.match(await web.text(page, '#lock'), /^Locked by Anna Berg/, forgery.name);
        }
        // The same form with its token does what the forgeries could not.
        await web.submit(page, '#break-lock');
        await web.submit(page, '#confirm-break');
        assert.equal(await web.text(page, '#lock'), 'Not locked');
    });

    test('another tenant\'s project, space, file and updates are not found, and its lock stays', async () => {
        const addresses = [
            `/projects/${harbour.id}`,
            `/projects/${harbour.id}/updates`,
            `/projects/${harbour.id}/updates.json`,
            `/spaces/${harbour.spaceId}`,
            `/files/${harbour.fileId}`,
            `/files/${harbour.fileId}/revisions/1/content`,
            '/projects/00000000000000000000000000000000',
            '/files/no-such-file',
            ...['9', '0', '-1', 'x'].map((revision) => `/files/${hostile.fileId}/revisions/${revision}/content`),
        ];
        for (const address of addresses) {
            const response = await page.goto(`${web.base}${address}`);
            assert.equal(response.status(), 404, address);
            assertSafetyHeaders(response);
            const shown = await web.text(page);
            assert.ok(!shown.includes('Harbour') && !shown.includes('quay') && !shown.includes('hostile'),
                `${address}: ${shown}`);
        }
        await page.goto(`${web.base}/projects/${harbour.id}`);
        await web.shot(page, '12-other-tenant');
        assert.ok(!(await web.text(page)).includes('Harbour'));
        await page.goto(`${web.base}/projects`);
        assert.ok(!(await web.text(page)).includes('Harbour quay'));

        // A break-lock form with a good token, aimed at her file, does not reach it.
        await anna.vyr('lock', 'notes.txt');
        await page.goto(`${web.base}/files/${hostile.notesId}`);
        await page.$eval('#break-lock', (form, action) => form.setAttribute('action', action),
            `/files/${harbour.fileId}/unlock`);
        const response = await web.submit(page, '#break-lock');
        assert.equal(response.status(), 404);
        const lock = (await web.file('cora', harbour.spaceId, 'quay.dwg')).lock;
        assert.ok(lock, 'Cora still holds her lock');
    });

    test('a refused token, a session cookie that scripts cannot read, and a sign-out that ends it', async () => {
        const stranger = await web.openPage(chromium.browser, 'anna');
        pages.push(stranger);
        for (const address of ['/', '/projects', `/files/${hostile.fileId}`, '/events']) {
            const response = await stranger.goto(`${web.base}${address}`);
            assert.equal(new URL(stranger.url()).pathname, '/signin', address);
            assert.equal(response.request().redirectChain()[0]?.response().status(), 303, address);
        }
        const sessionCookies = async () => (await stranger.cookies()).filter((cookie) => cookie.name === 'vyr_session');
        // A good token in a form that did not come from the sign-in page (one that another site
        // could post to sign her in as someone else) is refused; a wrong token is not accepted.
        await stranger.$eval('form input[name="csrf"]', (field) => field.remove());
        await stranger.type('#token', await web.token('anna'));
        const forged = await web.follow(stranger, '#signin');
        assert.equal(forged.status(), 403);
        assert.deepEqual(await sessionCookies(), []);
        await stranger.goto(`${web.base}/signin`);
        await stranger.type('#token', 'a'.repeat(64));
        const refused = await web.follow(stranger, '#signin');
        assert.equal(refused.status(), 401);
        assert.match(await web.text(stranger), /The token was not accepted\./);
        assert.deepEqual(await sessionCookies(), []);
        await web.shot(stranger, '13-signin-refused');

        await web.signIn(stranger);
        const [session] = await sessionCookies();
        assert.ok(session, 'a session cookie');
        assert.equal(session.httpOnly, true);
        assert.equal(session.sameSite, 'Strict');
        assert.equal(session.path, '/');
        assert.equal(await stranger.evaluate(() => document.cookie.includes('vyr_session')), false);

        await web.submit(stranger, 'form[action="/signout"]');
        assert.equal(new URL(stranger.url()).pathname, '/signin');
        await web.shot(stranger, '14-signed-out');
        await stranger.goto(`${web.base}/projects`);
        assert.equal(new URL(stranger.url()).pathname, '/signin');
        // The old cookie, sent again, opens nothing: the session ended on the server.
        const replay = await fetch(`${web.base}/projects`, {
            headers: { cookie: `vyr_session=${session.value}` }, redirect: 'manual',
        });
        assert.equal(replay.status, 303);
        assert.equal(new URL(replay.headers.get('location'), web.base).pathname, '/signin');
    });
});
