// The online viewer's updates of a project: what each shows, and statuses that move on the open
// page without a reload.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { setTimeout as sleep } from 'node:timers/promises';
import * as web from './harness.js';

describe('the viewer updates of a project', () => {
    let chromium, page, viewer, anna;

    before(async () => {
        chromium = await web.launch();
        anna = await web.workingFolder('updates', 'anna');
        viewer = await web.project(anna, 'Ring road', 'P-200');
        for (const name of ['site.dwg', 'roads.dwg']) {
            await anna.write(name, `${name}\n`);
            await anna.vyr('upload', name);
        }
        page = await web.openPage(chromium.browser, 'anna');
        // Every status each row showed, from the first paint on, in order.
        await page.evaluateOnNewDocument(() => {
            window.statusHistory = {};
            const record = () => {
                for (const row of document.querySelectorAll('#updates tr[data-update-id]')) {
                    const seen = (window.statusHistory[row.dataset.updateId] ??= []);
                    const status = row.querySelector('td.status')?.textContent.trim();
                    if (seen.at(-1) !== status) {
                        seen.push(status);
                    }
                }
            };
            document.addEventListener('DOMContentLoaded', () => {
                record();
                new MutationObserver(record).observe(document.body, { subtree: true, childList: true, characterData: true });
            });
        });
        await web.signIn(page);
    });
    after(() => web.finish(chromium, [page]));

    test('a 2D and a 3D update move from Scheduled to Success on the open page', async (t) => {
        // Through vyr-cld, as a host notifies the viewer; the 2D one last, as its status is watched
        // from its first second on.
        await anna.vyr('viewer', '3d', 'site.dwg', 'roads.dwg', '--epsg', '25832', '--description', 'Ring road, bridges',
            '--logical-id', 'ring-3d', '--offset-x', '1500.25', '--offset-y', '-20.5');
        const flat = (await anna.vyr('viewer', '2d', 'site.dwg', 'roads.dwg', '--epsg', '25832',
            '--description', 'Ring road, weekly', '--logical-id', 'ring-2d')).id;
        const notified = Date.now();
        let navigations = 0;
        page.on('framenavigated', (frame) => { navigations += frame === page.mainFrame() ? 1 : 0; });
        await page.goto(`${web.base}/projects/${viewer.id}/updates`);
        const loaded = Date.now() - notified;
        navigations = 0;
        await page.evaluate(() => { window.stillTheSamePage = true; });
        // The 3D update's id is only on the page.
        const solid = await page.$$eval('#updates tr[data-update-id]', (trs) =>
            trs.find((tr) => tr.querySelector('td.kind')?.textContent.trim() === '3D')?.dataset.updateId);
        assert.ok(solid, 'a row for the 3D update');

        const rows = [
            { id: flat, kind: '2D', watched: true, texts: ['Ring road, weekly', 'ring-2d', '25832', 'site.dwg', 'roads.dwg'] },
            { id: solid, kind: '3D', texts: ['Ring road, bridges', 'ring-3d', '25832', '1500.25', '-20.5', 'site.dwg'] },
        ];
        for (const row of rows) {
            const shown = await web.text(page, `tr[data-update-id="${row.id}"]`);
            for (const expected of [row.kind, ...row.texts]) {
                assert.ok(shown.includes(expected), `${expected} in ${shown}`);
            }
        }
        await web.shot(page, '07-updates-scheduled');

        await page.waitForFunction((ids) => ids.every((id) =>
            document.querySelector(`tr[data-update-id="${id}"] td.status`)?.textContent.trim() === 'Success'),
        { timeout: 10000, polling: 100 }, rows.map((row) => row.id));
        assert.equal(navigations, 0);
        assert.equal(await page.evaluate(() => window.stillTheSamePage), true);
        const history = await page.evaluate(() => window.statusHistory);
        t.diagnostic(`loaded ${loaded} ms after the 2D notification; statuses seen ${JSON.stringify(history)}`);
        for (const row of rows) {
            const seen = history[row.id];
            assert.equal(seen.at(-1), 'Success');
            assert.ok(seen.length >= 2, `the status changed on the page: ${seen}`);
            // The service schedules for a second: a page that took longer to load saw it in progress.
            if (row.watched && loaded < 800) {
                assert.equal(seen[0], 'Scheduled', `${seen}`);
            }
            assert.deepEqual(seen.filter((status) => !['Scheduled', 'InProgress', 'Success'].includes(status)), []);
        }
        await web.shot(page, '08-updates-success');
        assert.equal((await anna.vyr('viewer', 'status', flat)).status, 'Success');

        // Nothing left to wait for: the page stops asking.
        const polled = () => page.addresses.filter((address) => address.endsWith('/updates.json')).length;
        const before = polled();
        assert.ok(before >= 1, 'the page polled while updates were not final');
        await sleep(2500);
        assert.ok(polled() - before <= 1, `${polled() - before} polls after every update was final`);
    });
});
