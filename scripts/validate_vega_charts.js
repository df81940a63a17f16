// Checks the graph charts of a run's JSON record against the Vega-Lite schema that
// the installed vega-lite package ships. Usage: node validate_vega_charts.js RUN.json
// Prints one line per graph and exits 1 when a chart does not validate.
const path = require('path');
const fs = require('fs');
const modules = path.join(__dirname, '..', 'web', 'node_modules');
const Ajv = require(path.join(modules, 'ajv'));
const schema = require(path.join(modules, 'vega-lite', 'build', 'vega-lite-schema.json'));
const ajv = new Ajv({strict: false, validateFormats: false});
const validate = ajv.compile(schema);
const run = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
let graphs = 0, failed = 0;
function walk(nodes) {
  for (const node of nodes) {
    if (node.kind === 'group') walk(node.children);
    if (node.kind !== 'graph') continue;
    graphs++;
    if (validate(node.vegaLite)) {
      console.log('valid ' + node.name);
    } else {
      failed++;
      console.log('invalid ' + node.name + ': ' + JSON.stringify(validate.errors.slice(0, 3)));
    }
  }
}
for (const step of run.steps) walk(step.output);
console.log(graphs + ' graphs, ' + failed + ' invalid');
process.exit(failed > 0 || graphs === 0 ? 1 : 0);
