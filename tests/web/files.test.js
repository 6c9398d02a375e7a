// A plan shared by Anna (member, working through vyr-cld) and Bjorn (the project's admin, in the
// browser): its lock, its revisions, a download of an old one, and a broken lock.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtemp, readFile, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import * as web from './harness.js';

// Every byte value, so that a download that decodes or re-encodes anything shows.
const revision1 = Buffer.concat([Buffer.from('plan, revision 1\n'), Buffer.from([...Array(256).keys()])]);
const revision2 = Buffer.concat([Buffer.from('plan, revision 2\n'), Buffer.alloc(200000, 0xa5)]);

describe('a plan shared by Anna and Bjorn', () => {
    let chromium, anna, bjorn, annasPage, plan, fileId;

    before(async () => {
        chromium = await web.launch();
        anna = await web.workingFolder('files', 'anna');
        const bridge = await web.project(anna, 'Bridge', 'P-100', { bjorn: 'admin', anna: 'member' });
        await anna.write('plan.dwg', revision1);
        await anna.vyr('upload', 'plan.dwg');
        plan = bridge;
        fileId = (await web.file('anna', bridge.spaceId, 'plan.dwg')).id;
        bjorn = await web.openPage(chromium.browser, 'bjorn');
        annasPage = await web.openPage(chromium.browser, 'anna');
    });
    after(() => web.finish(chromium, [bjorn, annasPage]));

    test('Bjorn signs in and finds the plan locked by Anna, with the time she locked it', async () => {
        const locking = Date.now();
        await anna.vyr('lock', 'plan.dwg');
        await web.signIn(bjorn);
        // The search box matches a name or a number, whatever the case (the last query leaves the
        // project listed).
        for (const [query, found] of [['harbour', false], ['p-100', true], ['BRID', true], ['bridge', true]]) {
            await bjorn.$eval('#search', (input) => { input.value = ''; });
            await bjorn.type('#search', query);
            await Promise.all([bjorn.waitForNavigation(), bjorn.keyboard.press('Enter')]);
            assert.equal(new URL(bjorn.url()).searchParams.get('q'), query);
            assert.equal(await bjorn.$(`tr[data-project-id="${plan.id}"]`) !== null, found, query);
        }
        await web.shot(bjorn, '01-projects');
        // From the project list through the partition's tree to the file: every step a link.
        await web.follow(bjorn, `tr[data-project-id="${plan.id}"] a`);
        assert.equal(await web.text(bjorn, 'h1'), 'Bridge');
        await web.follow(bjorn, `a[href="/spaces/${plan.spaceId}"]`);
        // The folder's row tells the size, the revision and who holds it since when; times read
        // in the reader's zone and language, the UTC time in the element.
        const entry = await bjorn.$eval('tr.file[data-path="plan.dwg"]', (tr) => tr.innerText.replace(/\s+/g, ' '));
        for (const shown of [/\b273 bytes/, /\b\d{4}\b\S* \S.* 1 Locked/, /Locked by Anna Berg since \S.*\b\d{4}\b/]) {
            assert.match(entry, shown);
        }
        await web.shot(bjorn, '02-space-folder');
        await web.follow(bjorn, 'tr.file[data-path="plan.dwg"] a');
        assert.equal(new URL(bjorn.url()).pathname, `/files/${fileId}`);

        assert.equal(await web.text(bjorn, 'h1'), 'plan.dwg');
        assert.match(await web.text(bjorn, '#lock'), /^Locked by Anna Berg since /);
        const since = await bjorn.$eval('#lock time', (time) => time.getAttribute('datetime'));
        assert.match(since, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
        // Shown to the second: the lock was taken between the two readings of the clock.
        const taken = Date.parse(since);
        assert.ok(taken >= Math.floor(locking / 1000) * 1000 && taken <= Date.now(), `locked at ${since}`);
        await web.shot(bjorn, '03-file-locked');
    });

    test('after Anna uploads revision 2 both are listed, and revision 1 downloads with exactly its bytes', async () => {
        await anna.write('plan.dwg', revision2);
        await anna.vyr('upload', 'plan.dwg');
        await bjorn.reload();
        const rows = await bjorn.$$eval('#revisions tr[data-revision]', (trs) =>
            trs.map((tr) => ({
                revision: tr.dataset.revision,
                text: tr.innerText,
                sha256: tr.querySelector('.sha256 button.copy').dataset.copy,
                shown: tr.querySelector('.sha256 code').textContent.trim(),
                bytes: tr.querySelector('.size').getAttribute('title'),
                download: tr.querySelector('a.download').getAttribute('href'),
            })));
        const expected = { 1: revision1, 2: revision2 };
        assert.deepEqual(rows.map((row) => row.revision).sort(), ['1', '2']);
        for (const row of rows) {
            const bytes = expected[row.revision];
            assert.equal(row.sha256, web.sha256(bytes));
            assert.equal(row.shown, `${web.sha256(bytes).slice(0, 12)}\u2026`);
            assert.match(row.text, /Anna Berg/);
            assert.equal(row.bytes, `${bytes.length} bytes`, `revision ${row.revision} tells its exact size`);
            assert.equal(row.download, `/files/${fileId}/revisions/${row.revision}/content`);
        }
        await web.shot(bjorn, '04-file-revisions');

        // The browser's own download, into a folder of its own: the file's name and its bytes.
        const folder = await mkdtemp(join(tmpdir(), 'vyr-web-download-'));
        try {
            const cdp = await chromium.browser.target().createCDPSession();
            await cdp.send('Browser.setDownloadBehavior', {
                behavior: 'allow', downloadPath: folder, browserContextId: bjorn.browserContext().id, eventsEnabled: true,
            });
            let name;
            const done = new Promise((resolve, reject) => {
                const timer = setTimeout(() => reject(new Error('the download did not finish')), web.patience);
                cdp.on('Browser.downloadWillBegin', (event) => { name = event.suggestedFilename; });
                cdp.on('Browser.downloadProgress', (event) => {
                    if (event.state !== 'inProgress') {
                        clearTimeout(timer);
                        resolve(event.state);
                    }
                });
            });
            await bjorn.click('tr[data-revision="1"] a.download');
            assert.equal(await done, 'completed');
            assert.equal(name, 'plan.dwg');
            assert.equal(web.sha256(await readFile(join(folder, name))), web.sha256(revision1));
            await cdp.detach();
        }
        finally {
            await rm(folder, { recursive: true, force: true });
        }
    });

    test('Bjorn breaks the lock in the browser; Anna learns from her events and history who broke it and why', async () => {
        await web.submit(bjorn, '#break-lock');
        // A question first, naming the holder.
        assert.match(await web.text(bjorn, '#break-question'), /^Anna Berg has held the lock on plan\.dwg since /);
        await bjorn.type('#reason', 'Anna is on leave');
        await web.submit(bjorn, '#confirm-break');
        assert.equal(new URL(bjorn.url()).pathname, `/files/${fileId}`);
        assert.equal(await web.text(bjorn, '#lock'), 'Not locked');
        assert.equal(await bjorn.$('#break-lock'), null);
        await web.shot(bjorn, '05-lock-broken');

        // Her events page shows it without taking it from the feed that vyr-cld reads.
        await web.signIn(annasPage);
        await annasPage.goto(`${web.base}/events`);
        assert.match(await web.text(annasPage, '#events'), /bjorn@example\.org broke your lock on plan\.dwg: \W?Anna is on leave/);
        // And her history keeps it, with who broke it, once the events are taken.
        await annasPage.goto(`${web.base}/activity`);
        assert.match(await web.text(annasPage, '#activity'), /Bjorn Dahl broke your lock on plan\.dwg in Drawings of Bridge: \W?Anna is on leave/);
        await web.shot(annasPage, '06-events');
        const { events } = await anna.vyr('events');
        assert.ok(events.some((event) => event.type === 'Unlocked' && event.status === 409 &&
            event.responseId.includes('plan.dwg') && event.responseId.includes('bjorn@example.org')),
        JSON.stringify(events));
    });

    test('Anna, a member, may not break Bjorn\'s lock: no button, and a crafted form is refused', async () => {
        await web.api('bjorn', 'PUT', `/v1/spaces/${plan.spaceId}/lock?name=plan.dwg`);
        await annasPage.goto(`${web.base}/files/${fileId}`);
        assert.match(await web.text(annasPage, '#lock'), /^Locked by Bjorn Dahl since /);
        assert.equal(await annasPage.$('#break-lock'), null);
        // The form she could write herself, with her own session's good token.
        await annasPage.$eval('#lock', (lock, action) => {
            const form = document.createElement('form');
            form.method = 'post';
            form.action = action;
            form.id = 'crafted';
            const csrf = document.querySelector('form[action="/signout"] input[name="csrf"]').cloneNode();
            const button = document.createElement('button');
            button.textContent = 'Break';
            form.append(csrf, button);
            lock.append(form);
        }, `/files/${fileId}/unlock`);
        const response = await web.submit(annasPage, '#crafted');
        assert.equal(response.status(), 403);
        assert.ok((await web.file('anna', plan.spaceId, 'plan.dwg')).lock, 'Bjorn still holds the lock');
    });
});
